// Gifts that call a web service: the reply and the console line of every way
// a call can end.
#include "actions/outgoing_webhook.hpp"

#include <gtest/gtest.h>

#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::RemoteService;

class OutgoingWebhook : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new RemoteService(true); }
  static void TearDownTestSuite() { delete service_; }

  // The reply to a gift whose webhook calls the address.
  static std::string giftReply(const std::string& url) {
    endpoint::Cooldowns cooldowns;
    return endpoint::handleGift({"", "", "Hook", {}, {}}, {{"Hook", {"webhook", url, "", 100}}}, cooldowns);
  }
  static std::string url(const std::string& path) { return service_->url(path); }

  static RemoteService* service_;
  testing_support::ConsoleCapture console_;
};
RemoteService* OutgoingWebhook::service_ = nullptr;

TEST_F(OutgoingWebhook, EveryEnding) {
  RemoteService stranger(false);
  const std::string port = std::to_string(service_->port());
  const std::string success = R"({"message":"Webhook executed successfully","response":)";
  const std::string failed = R"({"error":"Webhook call failed: )";
  const auto to = [](const std::string& address) {
    return url("/redirect?to=" + httplib::encode_uri_component(address));
  };
  const std::pair<std::string, std::pair<std::string, std::string>> cases[] = {
      // The request target goes as configured, whatever the scheme says.
      {url("/echo?win=1&token=abc"),
       {success + R"("/echo?win=1&token=abc"})", "Requete HTTP reussie: " + url("/echo?win=1&token=abc")}},
      {"http://localhost:" + port + "/echo",
       {success + R"("/echo"})", "Requete HTTP reussie: http://localhost:" + port + "/echo"}},
      {"ftp://localhost:" + port + "/ok",
       {success + R"("win added"})", "Requete HTTP reussie: ftp://localhost:" + port + "/ok"}},
      // The remote body is escaped, and a byte that is not UTF-8 replaced.
      {url("/quote"), {success + R"("say \"hi\"\nbye"})", "Requete HTTP reussie: " + url("/quote")}},
      {url("/latin1"), {success + "\"caf\xEF\xBF\xBD\"}", "Requete HTTP reussie: " + url("/latin1")}},
      {url("/empty"), {success + R"(""})", "Requete HTTP reussie: " + url("/empty")}},
      {to("/ok"), {success + R"("win added"})", "Requete HTTP reussie: " + to("/ok")}},
      {url("/created"), {failed + R"(HTTP status 204"})", "Erreur requete HTTP: 204"}},
      {url("/missing"), {failed + R"(HTTP status 404"})", "Erreur requete HTTP: 404"}},
      // A call never leaves in clear, not even after a redirect.
      {to("http://127.0.0.1:" + port + "/ok?token=secret"),
       {failed + R"(redirect to an address without TLS refused"})",
        "Erreur requete HTTP: 302 (redirection vers une adresse non chiffree refusee)"}},
      {url("/loop"), {failed + R"(too many redirects"})", "Erreur requete HTTP: 302 (trop de redirections)"}},
      // Every hop keeps the body limit.
      {url("/big"), {failed + R"(no response)", "Erreur requete HTTP: 0"}},
      {to("https://127.0.0.1:" + port + "/big"), {failed + R"(no response)", "Erreur requete HTTP: 0"}},
      {stranger.url("/ok"), {failed + R"(no response)", "Erreur requete HTTP: 0"}},
      {"https://127.0.0.1:1/x", {failed + R"(no response)", "Erreur requete HTTP: 0"}},
      {"https://localhost:99999999999/x", {failed + R"(invalid address"})", "Erreur requete HTTP: 0"}},
      {"localhost/ok", {failed + R"x(invalid URL (no scheme)"})x", "URL invalide (pas de protocole): localhost/ok"}},
      {"https://localhost?a=1",
       {failed + R"x(invalid URL (no path)"})x", "URL invalide (pas de chemin): https://localhost?a=1"}},
  };
  for (const auto& [address, expected] : cases) {
    const std::string reply = giftReply(address);
    EXPECT_EQ(reply.substr(0, expected.first.size()), expected.first) << address << "\n" << reply;
    EXPECT_EQ(console_.lines().back(), expected.second) << address;
  }
}

TEST_F(OutgoingWebhook, ACallEndsWithinItsTimeLimit) {
  // A remote that never ends its answer is given up at the limit.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(actions::executeWebhook(url("/trickle"), 1000ms).succeeded);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3000ms);
  // A hop that would start after the limit is not made.
  EXPECT_EQ(actions::executeWebhook(url("/ok"), 0ms).failure, "time limit reached");
  EXPECT_EQ(console_.lines().back(), "Erreur requete HTTP: 0 (delai depasse)");
  // A silent remote: one read wait of 5 s, not a second one on closing.
  const auto silentStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(actions::executeWebhook(url("/silent")).succeeded);
  const auto waited = std::chrono::steady_clock::now() - silentStart;
  EXPECT_GE(waited, 4900ms);
  EXPECT_LT(waited, 8000ms);
}

}  // namespace
