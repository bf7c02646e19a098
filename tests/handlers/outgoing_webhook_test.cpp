#include "actions/outgoing_webhook.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "console_capture.hpp"
#include "recording_platform.hpp"
#include "test_servers.hpp"

namespace {

using testing_support::ConsoleCapture;
using testing_support::RemoteService;

class OutgoingWebhook : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing_support::testCertificates();
    service_ = new RemoteService(true);
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override { recording::reset(); }

  // A gift whose webhook calls the address, sent through the real endpoint.
  std::string giftReply(const std::string& url) {
    config::GiftTable gifts;
    gifts["Hook"] = {"webhook", url, "", 100};
    auto endpoint = testing_support::startWebhookEndpoint(std::move(gifts));
    httplib::Client client("127.0.0.1", endpoint->port());
    client.set_read_timeout(30, 0);
    auto result = client.Post("/webhook?giftName=Hook");
    if (!result) return "no reply";
    EXPECT_EQ(result->status, 200);
    return result->body;
  }

  static RemoteService* service_;
  ConsoleCapture console_;
};
RemoteService* OutgoingWebhook::service_ = nullptr;

TEST_F(OutgoingWebhook, Status200ReturnsTheBody) {
  const std::string url = service_->url("/ok");
  EXPECT_EQ(giftReply(url), R"({"message":"Webhook executed successfully","response":"win added"})");
  EXPECT_EQ(console_.text(), "Cadeau recu: Hook\nRequete HTTP reussie: " + url + "\n");
}

TEST_F(OutgoingWebhook, RequestTargetIsSentAsConfigured) {
  const auto outcome = actions::executeWebhook(service_->url("/echo?win=1&token=abc"));
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(service_->lastRequestTarget(), "/echo?win=1&token=abc");
  EXPECT_EQ(outcome.body, "/echo?win=1&token=abc");
}

TEST_F(OutgoingWebhook, AnySchemeGoesOverTls) {
  for (const std::string scheme : {"http", "ftp", ""}) {
    const auto outcome = actions::executeWebhook(scheme + "://localhost:" + std::to_string(service_->port()) + "/ok");
    EXPECT_TRUE(outcome.succeeded) << scheme << ": " << outcome.failure;
    EXPECT_EQ(outcome.body, "win added");
  }
}

TEST_F(OutgoingWebhook, RepliesEscapeAndRepairTheRemoteBody) {
  EXPECT_EQ(giftReply(service_->url("/quote")),
            R"({"message":"Webhook executed successfully","response":"say \"hi\"\nbye"})");
  // A byte that is not UTF-8 is replaced, and the reply stays a reply.
  EXPECT_EQ(giftReply(service_->url("/latin1")),
            "{\"message\":\"Webhook executed successfully\",\"response\":\"caf\xEF\xBF\xBD\"}");
  EXPECT_EQ(giftReply(service_->url("/empty")), R"({"message":"Webhook executed successfully","response":""})");
}

TEST_F(OutgoingWebhook, RedirectIsFollowed) {
  const auto outcome = actions::executeWebhook(service_->url("/moved"));
  EXPECT_TRUE(outcome.succeeded) << outcome.failure;
  EXPECT_EQ(outcome.body, "win added");
}

TEST_F(OutgoingWebhook, RedirectToPlainHttpIsRefusedAndNothingLeavesInClear) {
  std::atomic<int> reached{0};
  auto plain = std::make_unique<httplib::Server>();
  plain->Get(".*", [&](const httplib::Request&, httplib::Response& res) {
    ++reached;
    res.set_content("win added", "text/plain");
  });
  testing_support::RunningServer running(std::move(plain));
  const std::string to = "http://127.0.0.1:" + std::to_string(running.port()) + "/ok?token=secret";
  EXPECT_EQ(giftReply(service_->url("/redirect?to=" + httplib::encode_uri_component(to))),
            R"({"error":"Webhook call failed: redirect to an address without TLS refused"})");
  EXPECT_EQ(reached.load(), 0);
  EXPECT_EQ(console_.lines().back(), "Erreur requete HTTP: 302 (redirection vers une adresse non chiffree refusee)");
}

TEST_F(OutgoingWebhook, EveryHopKeepsTheLimits) {
  // Another host name for the same service: the body limit still holds.
  const std::string big = "https://127.0.0.1:" + std::to_string(service_->port()) + "/big";
  const auto outcome = actions::executeWebhook(service_->url("/redirect?to=" + httplib::encode_uri_component(big)));
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(console_.text(), "Erreur requete HTTP: 0\n");

  const auto looping = actions::executeWebhook(service_->url("/loop"));
  EXPECT_EQ(looping.failure, "too many redirects");
  EXPECT_EQ(console_.lines().back(), "Erreur requete HTTP: 302 (trop de redirections)");

  // A remote that never ends its answer is given up at the call's limit.
  const auto started = std::chrono::steady_clock::now();
  const auto trickled = actions::executeWebhook(service_->url("/trickle"), std::chrono::milliseconds(1000));
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(trickled.succeeded);
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  // A hop that would start after the limit is not made.
  EXPECT_EQ(actions::executeWebhook(service_->url("/ok"), std::chrono::milliseconds(0)).failure, "time limit reached");
  EXPECT_EQ(console_.lines().back(), "Erreur requete HTTP: 0 (delai depasse)");
}

TEST_F(OutgoingWebhook, OtherStatusesAreFailures) {
  EXPECT_EQ(giftReply(service_->url("/created")), R"({"error":"Webhook call failed: HTTP status 204"})");
  EXPECT_EQ(giftReply(service_->url("/missing")), R"({"error":"Webhook call failed: HTTP status 404"})");
  EXPECT_NE(console_.text().find("Erreur requete HTTP: 204\n"), std::string::npos);
  EXPECT_NE(console_.text().find("Erreur requete HTTP: 404\n"), std::string::npos);
}

TEST_F(OutgoingWebhook, OversizedRemoteBodyIsAFailure) {
  const auto outcome = actions::executeWebhook(service_->url("/big"));
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_TRUE(outcome.body.empty());
  EXPECT_EQ(console_.text(), "Erreur requete HTTP: 0\n");
}

TEST_F(OutgoingWebhook, UntrustedCertificateGetsNoResponse) {
  RemoteService stranger(false);
  const auto outcome = actions::executeWebhook(stranger.url("/ok"));
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(console_.text(), "Erreur requete HTTP: 0\n");
}

TEST_F(OutgoingWebhook, UnreachableHostGetsNoResponse) {
  // Nothing listens on port 1 of the loopback.
  const auto outcome = actions::executeWebhook("https://127.0.0.1:1/x");
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(console_.text(), "Erreur requete HTTP: 0\n");
}

TEST_F(OutgoingWebhook, SilentServerIsGivenUpAfterTheReadTimeout) {
  const auto started = std::chrono::steady_clock::now();
  const auto outcome = actions::executeWebhook(service_->url("/silent"));
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(console_.text(), "Erreur requete HTTP: 0\n");
  // One read wait of 5 s; not a second one spent on closing the connection.
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::milliseconds(8000));
}

TEST_F(OutgoingWebhook, AddressesThatCannotBeCalled) {
  EXPECT_EQ(giftReply("localhost/ok"), R"x({"error":"Webhook call failed: invalid URL (no scheme)"})x");
  EXPECT_EQ(giftReply("https://localhost?a=1"), R"x({"error":"Webhook call failed: invalid URL (no path)"})x");
  const auto overflow = actions::executeWebhook("https://localhost:99999999999/x");
  EXPECT_FALSE(overflow.succeeded);
  EXPECT_EQ(console_.text(),
            "Cadeau recu: Hook\nURL invalide (pas de protocole): localhost/ok\n"
            "Cadeau recu: Hook\nURL invalide (pas de chemin): https://localhost?a=1\n"
            "Erreur requete HTTP: 0\n");
}

}  // namespace
