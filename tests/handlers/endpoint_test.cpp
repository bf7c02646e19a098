// The gift handler behind the server's routes, over real HTTP on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "actions/key_press.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;

class Endpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    std::ofstream(sound_) << "ID3";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void serve(config::GiftTable gifts, std::string secret = {}) {
    endpoint_ = testing_support::startWebhookEndpoint(std::move(gifts), std::move(secret));
    client_ = std::make_unique<httplib::Client>("127.0.0.1", endpoint_->port());
  }
  // "status body" of a POST, after checking the headers every reply carries.
  std::string post(const std::string& target, const std::string& body = {}, const std::string& type = "text/plain",
                   const httplib::Headers& headers = {}) {
    const auto result = client_->Post(target, headers, body, type);
    if (!result) return "no reply: " + httplib::to_string(result.error());
    // A relay in a web page may read every reply, refusals included.
    EXPECT_EQ(result->get_header_value("Access-Control-Allow-Origin"), "*") << target;
    if (result->status == 200) {
      EXPECT_EQ(result->get_header_value("Content-Type"), "application/json") << target;
    }
    return std::to_string(result->status) + " " + result->body;
  }

  std::filesystem::path dir_ = testing_support::scratchDir("endpoint");
  std::string sound_ = (dir_ / "rose.mp3").string();
  testing_support::ConsoleCapture console_;
  std::unique_ptr<testing_support::RunningEndpoint> endpoint_;
  std::unique_ptr<httplib::Client> client_;
};

const std::string pressed = R"(200 {"message": "Key pressed successfully"})";
const std::string notConfigured = R"(200 {"message": "Gift not configured"})";

TEST_F(Endpoint, WhereTheNameComesFromAndWhatEachGiftAnswers) {
  serve({{"Silent key", {"key", "n", "", 100}},
         {"Bad key", {"key", "ab", "", 100}},
         {"Sound only", {"sound", "x", sound_, 50}},
         {"C\xC5\x93ur", {"key", "c", "", 100}}});
  const std::string json = "application/json";
  struct Case {
    std::string target, body, type, reply;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"/webhook", "", "text/plain", R"(200 {"error": "giftName parameter not found"})", {}},
      {"/webhook?giftName=", "", "text/plain", R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}},
      {"/webhook?giftName=Silent%20key",
       R"({"other": 1})",
       json,
       R"(200 {"error": "giftName not provided"})",
       {"Cadeau recu: "}},
      {"/webhook?giftName=Silent%20key", "", "text/plain", pressed, {"Cadeau recu: Silent key", "Touche 'n' pressee"}},
      {"/webhook",
       R"({"giftName": "Silent key"})",
       "application/json; charset=utf-8",
       pressed,
       {"Cadeau recu: Silent key", "Touche 'n' pressee"}},
      {"/webhook",
       "giftName=Silent+key",
       "application/x-www-form-urlencoded",
       pressed,
       {"Cadeau recu: Silent key", "Touche 'n' pressee"}},
      // JSON only when the type says so, in lower case.
      {"/webhook",
       R"({"giftName": "Silent key"})",
       "text/plain",
       R"(200 {"error": "giftName parameter not found"})",
       {}},
      {"/webhook?giftName=Silent%20key",
       R"({"giftName": "Rose"})",
       "APPLICATION/JSON",
       pressed,
       {"Cadeau recu: Silent key", "Touche 'n' pressee"}},
      // Names match exactly.
      {"/webhook?giftName=silent%20key",
       "",
       "text/plain",
       notConfigured,
       {"Cadeau recu: silent key", "Cadeau non configure: silent key"}},
      {"/webhook",
       R"({"giftName": "Silent key "})",
       json,
       notConfigured,
       {"Cadeau recu: Silent key ", "Cadeau non configure: Silent key "}},
      {"/webhook", R"({"giftName": "C\u0153ur"})", json, pressed, {"Cadeau recu: C\xC5\x93ur", "Touche 'c' pressee"}},
      {"/webhook?giftName=Bad%20key",
       "",
       "text/plain",
       R"(200 {"error":"Key not supported: ab"})",
       {"Cadeau recu: Bad key", "Touche non supportee: ab"}},
      // An unknown action still plays its sound.
      {"/webhook?giftName=Sound%20only",
       "",
       "text/plain",
       R"(200 {"error": "Unknown action type"})",
       {"Cadeau recu: Sound only", "Lecture audio: " + sound_ + " (volume: 50%)"}},
      // Bad JSON is an error reply in the library's words.
      {"/webhook", "{\"giftName\": ", json, "parse_error.101", {}},
      {"/webhook", "{\"giftName\": \"Rose\"} x", json, "parse_error.101", {}},
      {"/webhook", "[1,2]", json, "type_error.306", {}},
      {"/webhook", "{\"giftName\": 5}", json, "type_error.302", {}},
  };
  std::size_t seen = 0;
  for (const auto& c : cases) {
    const std::string reply = post(c.target, c.body, c.type);
    if (c.reply.find("_error.") != std::string::npos) {
      EXPECT_EQ(reply.rfind("200 {\"error\"", 0), 0u) << reply;
      EXPECT_NE(reply.find(c.reply), std::string::npos) << reply;
    } else {
      EXPECT_EQ(reply, c.reply) << c.target << " " << c.body;
    }
    const auto lines = console_.lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(seen), lines.end()), c.lines)
        << c.target << " " << c.body;
    seen = lines.size();
  }
  EXPECT_EQ(recording::presses().size(), 5u);
  EXPECT_EQ(recording::sounds().size(), 1u);
}

TEST_F(Endpoint, TheSoundStartsBeforeTheKeyAndKeysThatCannotBePressedSaySo) {
  serve({{"Rose", {"key", "g", sound_, 100}}});
  EXPECT_EQ(post("/webhook?giftName=Rose"), pressed);
  ASSERT_EQ(recording::sounds().size(), 1u);
  ASSERT_EQ(recording::presses().size(), 1u);
  EXPECT_LE(recording::sounds()[0].at, recording::presses()[0].down);
  EXPECT_EQ(console_.lines()[1], "Lecture audio: " + sound_ + " (volume: 100%)");
  recording::answerKeys([](std::span<const platform::Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Failed, "aucun affichage X"};
  });
  EXPECT_EQ(post("/webhook?giftName=Rose"), R"(200 {"error": "Keys cannot be pressed on this computer"})");
  EXPECT_EQ(console_.lines().back(), "Touche non pressee: g (aucun affichage X)");
}

TEST_F(Endpoint, PreflightOtherRoutesAndOversizedBodies) {
  serve({{"Rose", {"key", "g", "", 100}}});
  const auto options = client_->Options("/webhook");
  ASSERT_TRUE(options);
  EXPECT_EQ(std::tie(options->status, options->body), std::make_tuple(200, ""));
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Methods"), "POST, OPTIONS");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Headers"), "Content-Type, X-Webhook-Secret");
  EXPECT_EQ(client_->Get("/webhook?giftName=Rose")->status, 404);
  EXPECT_EQ(client_->Post("/other?giftName=Rose")->status, 404);
  const auto padded = [](std::size_t kib) {
    return R"({"giftName": "Rose", "pad": ")" + std::string(kib * 1024, 'x') + "\"}";
  };
  EXPECT_EQ(post("/webhook", padded(70), "application/json").substr(0, 4), "413 ");
  EXPECT_EQ(console_.text(), "");
  EXPECT_EQ(post("/webhook", padded(60), "application/json"), pressed);
}

TEST_F(Endpoint, CooldownsAndAFullKeyQueue) {
  endpoint::Cooldowns cooldowns;
  const auto t0 = endpoint::Cooldowns::Clock::now();
  EXPECT_TRUE(cooldowns.mayRun("Rose", 2000ms, t0));
  EXPECT_FALSE(cooldowns.mayRun("Rose", 2000ms, t0 + 1999ms));
  EXPECT_TRUE(cooldowns.mayRun("Lion", 2000ms, t0 + 1999ms));
  // Counted from the last run, not from the refused arrival.
  EXPECT_TRUE(cooldowns.mayRun("Rose", 2000ms, t0 + 2000ms));
  EXPECT_FALSE(cooldowns.mayRun("Rose", 2000ms, t0 + 3999ms));
  EXPECT_TRUE(cooldowns.mayRun("Rose", 0ms, t0 + 3999ms));

  config::GiftTable gifts{{"Lion", {"key", "g", sound_, 100}}, {"Rose", {"key", "n", "", 100}}};
  gifts["Lion"].cooldown = 1min;
  serve(gifts);
  EXPECT_EQ(post("/webhook?giftName=Lion"), pressed);
  EXPECT_EQ(post("/webhook?giftName=Lion"), R"(200 {"message": "Gift on cooldown"})");
  EXPECT_EQ(recording::sounds().size(), 1u);
  const auto lines = console_.lines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Cadeau recu: Lion", "Cadeau en recharge: Lion"}));

  // No time to wait: a key is pressed only when it is free at once, and the
  // gap after a press keeps it from being free.
  actions::setKeyPacing(actions::keyGap, 0ms);
  EXPECT_EQ(post("/webhook?giftName=Rose"), pressed);
  EXPECT_EQ(post("/webhook?giftName=Rose"), R"(200 {"error": "Key queue full"})");
  actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit);
  EXPECT_EQ(console_.lines().back(), "File d'attente pleine: Rose");
  EXPECT_EQ(recording::presses().size(), 2u);
}

TEST_F(Endpoint, ARequestMustCarryTheSecretWhenOneIsSet) {
  serve({{"Rose", {"key", "g", "", 100}}}, "s3cr\xC3\xA9t");
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const std::string json = "application/json";
  EXPECT_EQ(post("/webhook?giftName=Rose"), forbidden);
  EXPECT_EQ(post("/webhook?giftName=Rose&secret=s3cr"), forbidden);
  EXPECT_EQ(post("/webhook?giftName=Rose", "", "text/plain", {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}), forbidden);
  EXPECT_EQ(post("/webhook", R"({"giftName": "Rose", "secret": 5})", json), forbidden);
  EXPECT_EQ(post("/webhook", "{not json", json), forbidden);
  EXPECT_EQ(post("/webhook?giftName=Rose&secret=s3cr%C3%A9t"), pressed);
  EXPECT_EQ(post("/webhook", "giftName=Rose&secret=s3cr%C3%A9t", "application/x-www-form-urlencoded"), pressed);
  EXPECT_EQ(post("/webhook?giftName=Rose", "", "text/plain", {{"X-Webhook-Secret", "s3cr\xC3\xA9t"}}), pressed);
  EXPECT_EQ(post("/webhook", "{\"giftName\": \"Rose\", \"secret\": \"s3cr\xC3\xA9t\"}", json), pressed);
  EXPECT_EQ(recording::presses().size(), 4u);
  EXPECT_EQ(console_.count("Requete refusee : secret absent ou incorrect"), 5u);
  EXPECT_EQ(console_.text().find("s3cr"), std::string::npos);
}

}  // namespace
