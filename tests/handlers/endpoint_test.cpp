#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "actions/key_press.hpp"
#include "console_capture.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "scratch.hpp"
#include "test_servers.hpp"

namespace {

using testing_support::ConsoleCapture;

class Endpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    dir_ = testing_support::scratchDir("endpoint");
    soundFile_ = (dir_ / "rose.mp3").string();
    std::ofstream(soundFile_) << "ID3";
    config::GiftTable gifts;
    gifts["Rose"] = {"key", "g", soundFile_, 100};
    gifts["Silent key"] = {"key", "n", "", 100};
    gifts["TikTok"] = {"key", "space", "", 80};
    gifts["Bad key"] = {"key", "ab", "", 100};
    gifts["Sound only"] = {"sound", "x", soundFile_, 50};
    gifts["C\xC5\x93ur"] = {"key", "c", "", 100};
    endpoint_ = testing_support::startWebhookEndpoint(std::move(gifts));
    client_ = std::make_unique<httplib::Client>("127.0.0.1", endpoint_->port());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  httplib::Result post(const std::string& target, const std::string& body = {}, const std::string& type = {}) {
    if (type.empty() && body.empty()) return client_->Post(target);
    return client_->Post(target, body, type);
  }
  std::string reply(const std::string& target, const std::string& body = {}, const std::string& type = {}) {
    auto result = post(target, body, type);
    if (!result) return "no reply: " + httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200) << target;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json") << target;
    // A relay in a web page may read every reply.
    EXPECT_EQ(result->get_header_value("Access-Control-Allow-Origin"), "*") << target;
    return result->body;
  }

  std::filesystem::path dir_;
  std::string soundFile_;
  ConsoleCapture console_;
  std::unique_ptr<testing_support::RunningEndpoint> endpoint_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(Endpoint, NameMissingOrEmpty) {
  EXPECT_EQ(reply("/webhook"), R"({"error": "giftName parameter not found"})");
  EXPECT_EQ(console_.text(), "");
  EXPECT_EQ(reply("/webhook?giftName="), R"({"error": "giftName not provided"})");
  EXPECT_EQ(reply("/webhook?giftName=Rose", "{\"other\": 1}", "application/json"),
            R"({"error": "giftName not provided"})");
  EXPECT_EQ(console_.text(), "Cadeau recu: \nCadeau recu: \n");
  EXPECT_TRUE(recording::presses().empty());
}

TEST_F(Endpoint, NameFromQueryJsonAndForm) {
  EXPECT_EQ(reply("/webhook?giftName=Silent%20key"), R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(reply("/webhook", R"({"giftName": "Silent key"})", "application/json; charset=utf-8"),
            R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(reply("/webhook", "giftName=Silent+key", "application/x-www-form-urlencoded"),
            R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(recording::presses().size(), 3u);
  const std::vector<std::string> once{"Cadeau recu: Silent key", "Touche 'n' pressee"};
  std::vector<std::string> thrice;
  for (int i = 0; i < 3; ++i) thrice.insert(thrice.end(), once.begin(), once.end());
  EXPECT_EQ(console_.lines(), thrice);
}

TEST_F(Endpoint, JsonOnlyWhenTheTypeSaysSoInLowerCase) {
  EXPECT_EQ(reply("/webhook", R"({"giftName": "Rose"})", "text/plain"), R"({"error": "giftName parameter not found"})");
  EXPECT_EQ(reply("/webhook?giftName=Silent%20key", R"({"giftName": "Rose"})", "APPLICATION/JSON"),
            R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(console_.text(), "Cadeau recu: Silent key\nTouche 'n' pressee\n");
}

TEST_F(Endpoint, BadJsonIsAnErrorReplyWithTheLibrarysWords) {
  const auto check = [&](const std::string& body, const char* expected) {
    const auto parsed = nlohmann::json::parse(reply("/webhook", body, "application/json"));
    ASSERT_TRUE(parsed.contains("error")) << body;
    EXPECT_NE(parsed["error"].get<std::string>().find(expected), std::string::npos) << parsed.dump();
  };
  check("", "parse_error.101");
  check("{\"giftName\": ", "parse_error.101");
  check("{\"giftName\": \"Rose\"} x", "parse_error.101");
  check("[1,2]", "type_error.306");
  check("{\"giftName\": 5}", "type_error.302");
  EXPECT_EQ(console_.text(), "");
}

TEST_F(Endpoint, NamesMatchExactly) {
  EXPECT_EQ(reply("/webhook?giftName=rose"), R"({"message": "Gift not configured"})");
  EXPECT_EQ(reply("/webhook", R"({"giftName": "Rose "})", "application/json"), R"({"message": "Gift not configured"})");
  EXPECT_EQ(reply("/webhook", "{\"giftName\": \"C\\u0153ur\"}", "application/json"),
            R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(console_.text(),
            "Cadeau recu: rose\nCadeau non configure: rose\nCadeau recu: Rose \nCadeau non configure: Rose \n"
            "Cadeau recu: C\xC5\x93ur\nTouche 'c' pressee\n");
}

TEST_F(Endpoint, SoundStartsBeforeTheKey) {
  EXPECT_EQ(reply("/webhook?giftName=Rose"), R"({"message": "Key pressed successfully"})");
  const auto lines = console_.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Lecture audio: " + soundFile_ + " (volume: 100%)");
  EXPECT_EQ(lines[2], "Touche 'g' pressee");
  const auto sounds = recording::sounds();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].volume, 100);
  // The key went down once the sound was playing.
  ASSERT_EQ(recording::presses().size(), 1u);
  EXPECT_LE(sounds[0].at, recording::presses()[0].down);
}

TEST_F(Endpoint, UnknownActionStillPlaysItsSound) {
  EXPECT_EQ(reply("/webhook?giftName=Sound%20only"), R"({"error": "Unknown action type"})");
  const auto sounds = recording::sounds();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].volume, 50);
  EXPECT_TRUE(recording::presses().empty());
}

TEST_F(Endpoint, KeyNotPressedIsAnErrorReply) {
  EXPECT_EQ(reply("/webhook?giftName=Bad%20key"), R"({"error":"Key not supported: ab"})");
  EXPECT_EQ(console_.text(), "Cadeau recu: Bad key\nTouche non supportee: ab\n");
  EXPECT_EQ(reply("/webhook?giftName=TikTok"), R"({"message": "Key pressed successfully"})");
  recording::answerKeys([](std::span<const platform::Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Failed, "aucun affichage X"};
  });
  EXPECT_EQ(reply("/webhook?giftName=TikTok"), R"({"error": "Keys cannot be pressed on this computer"})");
  EXPECT_EQ(console_.lines().back(), "Touche non pressee: space (aucun affichage X)");
}

TEST_F(Endpoint, PreflightAndOtherRoutes) {
  auto options = client_->Options("/webhook");
  ASSERT_TRUE(options);
  EXPECT_EQ(options->status, 200);
  EXPECT_EQ(options->body, "");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Methods"), "POST, OPTIONS");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Headers"), "Content-Type, X-Webhook-Secret");
  auto get = client_->Get("/webhook?giftName=Rose");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
  auto other = client_->Post("/other?giftName=Rose");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 404);
  EXPECT_EQ(console_.text(), "");
}

TEST_F(Endpoint, OversizedBodyIsRefusedBeforeTheHandler) {
  const std::string big = "{\"giftName\": \"Rose\", \"pad\": \"" + std::string(70 * 1024, 'x') + "\"}";
  auto result = post("/webhook", big, "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 413);
  EXPECT_EQ(result->get_header_value("Access-Control-Allow-Origin"), "*");
  const std::string fits = "{\"giftName\": \"Silent key\", \"pad\": \"" + std::string(60 * 1024, 'x') + "\"}";
  EXPECT_EQ(reply("/webhook", fits, "application/json"), R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(console_.text(), "Cadeau recu: Silent key\nTouche 'n' pressee\n");
}

TEST_F(Endpoint, GiftsAtTheSameTimeEachReleaseTheirKey) {
  constexpr int gifts = 12;
  std::vector<std::future<std::string>> replies;
  for (int i = 0; i < gifts; ++i) {
    replies.push_back(std::async(std::launch::async, [port = endpoint_->port()] {
      httplib::Client client("127.0.0.1", port);
      auto result = client.Post("/webhook?giftName=Silent%20key");
      return result ? result->body : std::string("no reply");
    }));
  }
  for (auto& r : replies) EXPECT_EQ(r.get(), R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(recording::presses().size(), static_cast<std::size_t>(gifts));
  EXPECT_EQ(console_.lines().size(), 2u * gifts);
}

TEST(Cooldowns, AGiftRunsAgainOnceItsCooldownIsOver) {
  endpoint::Cooldowns cooldowns;
  const auto t0 = endpoint::Cooldowns::Clock::now();
  EXPECT_TRUE(cooldowns.mayRun("Rose", std::chrono::milliseconds(2000), t0));
  EXPECT_FALSE(cooldowns.mayRun("Rose", std::chrono::milliseconds(2000), t0 + std::chrono::milliseconds(1999)));
  EXPECT_TRUE(cooldowns.mayRun("Lion", std::chrono::milliseconds(2000), t0 + std::chrono::milliseconds(1999)));
  // Counted from the last run, not from the refused arrival.
  EXPECT_TRUE(cooldowns.mayRun("Rose", std::chrono::milliseconds(2000), t0 + std::chrono::milliseconds(2000)));
  EXPECT_FALSE(cooldowns.mayRun("Rose", std::chrono::milliseconds(2000), t0 + std::chrono::milliseconds(3999)));
  EXPECT_TRUE(cooldowns.mayRun("Rose", std::chrono::milliseconds(0), t0 + std::chrono::milliseconds(3999)));
}

TEST_F(Endpoint, AGiftOnCooldownDoesNothing) {
  config::GiftTable gifts;
  gifts["Lion"] = {"key", "g", soundFile_, 100};
  gifts["Lion"].cooldown = std::chrono::minutes(1);
  auto endpoint = testing_support::startWebhookEndpoint(std::move(gifts));
  httplib::Client client("127.0.0.1", endpoint->port());
  EXPECT_EQ(client.Post("/webhook?giftName=Lion")->body, R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(client.Post("/webhook?giftName=Lion")->body, R"({"message": "Gift on cooldown"})");
  EXPECT_EQ(recording::presses().size(), 1u);
  EXPECT_EQ(recording::sounds().size(), 1u);
  const auto lines = console_.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Cadeau recu: Lion", "Cadeau en recharge: Lion"}));
}

TEST_F(Endpoint, AKeyThatCannotBePressedInTimeIsAnErrorReply) {
  // No time to wait: a key is pressed only when it is free at once, and the
  // gap after a press keeps it from being free.
  actions::setKeyPacing(actions::keyGap, std::chrono::milliseconds(0));
  EXPECT_EQ(reply("/webhook?giftName=Silent%20key"), R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(reply("/webhook?giftName=Silent%20key"), R"({"error": "Key queue full"})");
  actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit);
  EXPECT_EQ(console_.lines().back(), "File d'attente pleine: Silent key");
  EXPECT_EQ(recording::presses().size(), 1u);
}

TEST(EndpointSecret, ARequestMustCarryTheSecretWhenOneIsSet) {
  recording::reset();
  ConsoleCapture console;
  config::GiftTable gifts;
  gifts["Rose"] = {"key", "g", "", 100};
  auto server = std::make_unique<endpoint::GiftServer>();
  endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>(std::move(gifts)), "s3cr\xC3\xA9t");
  testing_support::RunningEndpoint running(std::move(server));
  httplib::Client client("127.0.0.1", running.port());
  const auto status = [&](const std::string& target, const std::string& body = {}, const std::string& type = {},
                          const httplib::Headers& headers = {}) {
    const auto result = client.Post(target, headers, body, type.empty() ? "text/plain" : type);
    if (!result) return std::string("no reply");
    EXPECT_EQ(result->get_header_value("Access-Control-Allow-Origin"), "*");
    return std::to_string(result->status) + " " + result->body;
  };
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const std::string pressed = R"(200 {"message": "Key pressed successfully"})";
  EXPECT_EQ(status("/webhook?giftName=Rose"), forbidden);
  EXPECT_EQ(status("/webhook?giftName=Rose&secret=s3cr"), forbidden);
  EXPECT_EQ(status("/webhook?giftName=Rose", "", "", {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}), forbidden);
  EXPECT_EQ(status("/webhook", R"({"giftName": "Rose", "secret": 5})", "application/json"), forbidden);
  EXPECT_EQ(status("/webhook", "{not json", "application/json"), forbidden);
  const std::size_t refusals = 5;
  EXPECT_EQ(status("/webhook?giftName=Rose&secret=s3cr%C3%A9t"), pressed);
  EXPECT_EQ(status("/webhook", "giftName=Rose&secret=s3cr%C3%A9t", "application/x-www-form-urlencoded"), pressed);
  EXPECT_EQ(status("/webhook?giftName=Rose", "", "", {{"X-Webhook-Secret", "s3cr\xC3\xA9t"}}), pressed);
  EXPECT_EQ(status("/webhook", "{\"giftName\": \"Rose\", \"secret\": \"s3cr\xC3\xA9t\"}", "application/json"), pressed);
  EXPECT_EQ(recording::presses().size(), 4u);
  EXPECT_EQ(console.count("Requete refusee : secret absent ou incorrect"), refusals);
  EXPECT_EQ(console.text().find("s3cr"), std::string::npos);
}

}  // namespace
