// Gifts that call a web service: the reply and the console line of each way
// a call can end.
#include "actions/outgoing_webhook.hpp"

#include <gtest/gtest.h>

#include "endpoint/webhook_endpoint.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

TEST(OutgoingWebhook, EachEndingHasItsReplyAndLine) {
  testing_support::ConsoleCapture console;
  const testing_support::RemoteService service(true), stranger(false);
  const auto url = [&service](const std::string& path) { return service.url(path); };
  const auto to = [&url](const std::string& address) {
    return url("/redirect?to=" + httplib::encode_uri_component(address));
  };
  const std::string port = url("").substr(18);
  const std::string ok = R"({"message":"Webhook executed successfully","response":)";
  const std::string failed = R"({"error":"Webhook call failed: )";
  const std::string called = "Requete HTTP reussie: ";
  const std::pair<std::string, std::pair<std::string, std::string>> cases[] = {
      // The request target goes as configured, over TLS whatever the scheme says.
      {url("/echo?win=1&token=abc"), {ok + R"("/echo?win=1&token=abc"})", called + url("/echo?win=1&token=abc")}},
      {"http://localhost:" + port + "/echo", {ok + R"("/echo"})", called + "http://localhost:" + port + "/echo"}},
      // The remote body is escaped, and a byte that is not UTF-8 replaced.
      {url("/quote"), {ok + R"("say \"hi\"\nbye"})", called + url("/quote")}},
      {url("/latin1"), {ok + "\"caf\xEF\xBF\xBD\"}", called + url("/latin1")}},
      {to("/ok"), {ok + R"("win added"})", called + to("/ok")}},
      {to("echo"), {ok + R"("/echo"})", called + to("echo")}},
      {url("/created"), {failed + R"(HTTP status 204"})", "Erreur requete HTTP: 204"}},
      // A call never leaves in clear, not even after a redirect.
      {to("http://127.0.0.1:" + port + "/ok"),
       {failed + R"(redirect to an address without TLS refused"})",
        "Erreur requete HTTP: 302 (redirection vers une adresse non chiffree refusee)"}},
      {url("/loop"), {failed + R"(too many redirects"})", "Erreur requete HTTP: 302 (trop de redirections)"}},
      // Every hop keeps the body limit.
      {url("/big"), {failed + "no response", "Erreur requete HTTP: 0"}},
      {to("https://127.0.0.1:" + port + "/big"), {failed + "no response", "Erreur requete HTTP: 0"}},
      {stranger.url("/ok"), {failed + "no response", "Erreur requete HTTP: 0"}},
      {"https://127.0.0.1:1/x", {failed + "no response", "Erreur requete HTTP: 0"}},
      {"https://localhost:99999999999/x", {failed + R"(invalid address"})", "Erreur requete HTTP: 0"}},
      {"localhost/ok", {failed + R"x(invalid URL (no scheme)"})x", "URL invalide (pas de protocole): localhost/ok"}},
      {"https://localhost?a=1",
       {failed + R"x(invalid URL (no path)"})x", "URL invalide (pas de chemin): https://localhost?a=1"}},
  };
  for (const auto& [address, expected] : cases) {
    endpoint::Cooldowns cooldowns;
    const std::string reply =
        endpoint::handleGift({"", "", "Hook", {}, {}}, {{"Hook", {"webhook", address, "", 100}}}, cooldowns);
    EXPECT_EQ(reply.substr(0, expected.first.size()), expected.first) << address << "\n" << reply;
    EXPECT_EQ(console.lines().back(), expected.second) << address;
  }
  // A hop that would start after the call's time limit is not made.
  EXPECT_EQ(actions::executeWebhook(url("/ok"), std::chrono::milliseconds(0)).failure, "time limit reached");
  EXPECT_EQ(console.lines().back(), "Erreur requete HTTP: 0 (delai depasse)");
}

}  // namespace
