// The gift handler behind the server's routes, over HTTP on the loopback.
#include <gtest/gtest.h>

#include <fstream>

#include "actions/key_press.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
const std::string json = "application/json";
const std::string text = "text/plain";
const std::string form = "application/x-www-form-urlencoded";
const std::string pressed = R"(200 {"message": "Key pressed successfully"})";

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
  std::string post(const std::string& target, const std::string& body = {}, const std::string& type = text,
                   const httplib::Headers& headers = {}) {
    const auto result = client_->Post(target, headers, body, type);
    if (!result) return "no reply: " + httplib::to_string(result.error());
    // A relay in a web page may read every reply, refusals included.
    EXPECT_EQ(result->get_header_value("Access-Control-Allow-Origin"), "*") << target;
    EXPECT_EQ(result->get_header_value("Content-Type"), result->status == 413 ? "" : json);
    return std::to_string(result->status) + " " + result->body;
  }
  // The lines printed since the last call.
  Lines newLines() {
    const auto all = console_.lines();
    const Lines fresh(all.begin() + static_cast<long>(seen_), all.end());
    seen_ = all.size();
    return fresh;
  }

  std::filesystem::path dir_ = testing_support::scratchDir("endpoint");
  std::string sound_ = (dir_ / "rose.mp3").string();
  testing_support::ConsoleCapture console_;
  std::size_t seen_ = 0;
  std::unique_ptr<testing_support::RunningEndpoint> endpoint_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(Endpoint, WhereTheNameComesFromAndWhatEachGiftAnswers) {
  serve({{"Key", {"key", "n", "", 100}},
         {"Bad key", {"key", "ab", "", 100}},
         {"Song", {"sound", "x", sound_, 50}},
         {"C\xC5\x93ur", {"key", "c", "", 100}}});
  const Lines key{"Cadeau recu: Key", "Touche 'n' pressee"};
  struct Case {
    std::string target, body, type, reply;
    Lines lines;
  };
  const Case cases[] = {
      {"/webhook", "", text, R"(200 {"error": "giftName parameter not found"})", {}},
      {"/webhook?giftName=", "", text, R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}},
      {"/webhook?giftName=Key",
       R"({"other": 1})",
       json,
       R"(200 {"error": "giftName not provided"})",
       {"Cadeau recu: "}},
      {"/webhook?giftName=Key", "", text, pressed, key},
      {"/webhook", R"({"giftName": "Key"})", "application/json; charset=utf-8", pressed, key},
      {"/webhook", "giftName=Key", form, pressed, key},
      // JSON only when the type says so, in lower case.
      {"/webhook", R"({"giftName": "Key"})", text, R"(200 {"error": "giftName parameter not found"})", {}},
      {"/webhook?giftName=Key", R"({"giftName": "Rose"})", "APPLICATION/JSON", pressed, key},
      // Names match exactly.
      {"/webhook?giftName=key",
       "",
       text,
       R"(200 {"message": "Gift not configured"})",
       {"Cadeau recu: key", "Cadeau non configure: key"}},
      {"/webhook", R"({"giftName": "C\u0153ur"})", json, pressed, {"Cadeau recu: C\xC5\x93ur", "Touche 'c' pressee"}},
      {"/webhook?giftName=Bad%20key",
       "",
       text,
       R"(200 {"error":"Key not supported: ab"})",
       {"Cadeau recu: Bad key", "Touche non supportee: ab"}},
      // An unknown action still plays its sound.
      {"/webhook?giftName=Song",
       "",
       text,
       R"(200 {"error": "Unknown action type"})",
       {"Cadeau recu: Song", "Lecture audio: " + sound_ + " (volume: 50%)"}},
      // Bad JSON is an error reply in the library's words.
      {"/webhook", "{\"giftName\": ", json, R"(200 {"error":"[json.exception.parse_error.101] parse error)", {}},
      {"/webhook", "[1,2]", json, R"(200 {"error":"[json.exception.type_error.306])", {}},
      {"/webhook", "{\"giftName\": 5}", json, R"(200 {"error":"[json.exception.type_error.302])", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(post(c.target, c.body, c.type).substr(0, c.reply.size()), c.reply) << c.target << " " << c.body;
    EXPECT_EQ(newLines(), c.lines) << c.target << " " << c.body;
  }
  EXPECT_EQ(recording::presses().size(), 5u);
}

TEST_F(Endpoint, TheSoundStartsBeforeTheKeyAndAKeyboardThatFailsSaysSo) {
  serve({{"Rose", {"key", "g", sound_, 100}}});
  EXPECT_EQ(post("/webhook?giftName=Rose"), pressed);
  ASSERT_EQ(recording::presses().size(), 1u);
  EXPECT_LE(recording::sounds().at(0).at, recording::presses()[0].down);
  EXPECT_EQ(newLines(),
            (Lines{"Cadeau recu: Rose", "Lecture audio: " + sound_ + " (volume: 100%)", "Touche 'g' pressee"}));
  recording::answerKeys([](std::span<const platform::Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Failed, "aucun affichage X"};
  });
  EXPECT_EQ(post("/webhook?giftName=Rose"), R"(200 {"error": "Keys cannot be pressed on this computer"})");
  EXPECT_EQ(console_.lines().back(), "Touche non pressee: g (aucun affichage X)");
}

TEST_F(Endpoint, PreflightOtherRoutesAndOversizedBodies) {
  serve({{"Rose", {"key", "g", "", 100}}});
  const auto options = client_->Options("/webhook");
  EXPECT_EQ(std::tie(options->status, options->body), std::make_tuple(200, ""));
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Methods"), "POST, OPTIONS");
  EXPECT_EQ(options->get_header_value("Access-Control-Allow-Headers"), "Content-Type, X-Webhook-Secret");
  EXPECT_EQ(client_->Get("/webhook?giftName=Rose")->status, 404);
  EXPECT_EQ(client_->Post("/other?giftName=Rose")->status, 404);
  const auto padded = [](std::size_t kib) {
    return R"({"giftName": "Rose", "p": ")" + std::string(kib << 10, 'x') + "\"}";
  };
  EXPECT_EQ(post("/webhook", padded(70), json).substr(0, 4), "413 ");
  EXPECT_EQ(console_.text(), "");
  EXPECT_EQ(post("/webhook", padded(60), json), pressed);
}

TEST_F(Endpoint, CooldownsAndAFullKeyQueue) {
  endpoint::Cooldowns cooldowns;
  const auto t0 = endpoint::Cooldowns::Clock::now();
  // Counted from the last run, not from a refused arrival; other gifts have their own.
  const std::tuple<const char*, std::chrono::milliseconds, std::chrono::milliseconds, bool> arrivals[] = {
      {"Rose", 2000ms, 0ms, true},    {"Rose", 2000ms, 1999ms, false}, {"Lion", 2000ms, 1999ms, true},
      {"Rose", 2000ms, 2000ms, true}, {"Rose", 2000ms, 3999ms, false}, {"Rose", 0ms, 3999ms, true}};
  for (const auto& [gift, cooldown, at, runs] : arrivals) EXPECT_EQ(cooldowns.mayRun(gift, cooldown, t0 + at), runs);

  config::GiftTable gifts{{"Lion", {"key", "g", sound_, 100}}, {"Rose", {"key", "n", "", 100}}};
  gifts["Lion"].cooldown = 1min;
  serve(gifts);
  EXPECT_EQ(post("/webhook?giftName=Lion"), pressed);
  newLines();
  EXPECT_EQ(post("/webhook?giftName=Lion"), R"(200 {"message": "Gift on cooldown"})");
  EXPECT_EQ(newLines(), (Lines{"Cadeau recu: Lion", "Cadeau en recharge: Lion"}));
  // No time to wait: a key is pressed only when it is free at once, and the
  // gap after a press keeps it from being free.
  actions::setKeyPacing(actions::keyGap, 0ms);
  EXPECT_EQ(post("/webhook?giftName=Rose"), pressed);
  EXPECT_EQ(post("/webhook?giftName=Rose"), R"(200 {"error": "Key queue full"})");
  actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit);
  EXPECT_EQ(console_.lines().back(), "File d'attente pleine: Rose");
  EXPECT_EQ(recording::presses().size(), 2u);
  EXPECT_EQ(recording::sounds().size(), 1u);
}

TEST_F(Endpoint, ARequestMustCarryTheSecretWhenOneIsSet) {
  serve({{"Rose", {"key", "g", "", 100}}}, "s3cr\xC3\xA9t");
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const std::tuple<std::string, std::string, std::string, httplib::Headers, std::string> requests[] = {
      {"/webhook?giftName=Rose", "", text, {}, forbidden},
      {"/webhook?giftName=Rose&secret=s3cr", "", text, {}, forbidden},
      {"/webhook?giftName=Rose", "", text, {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}, forbidden},
      {"/webhook", R"({"giftName": "Rose", "secret": 5})", json, {}, forbidden},
      {"/webhook", "{not json", json, {}, forbidden},
      {"/webhook?giftName=Rose&secret=s3cr%C3%A9t", "", text, {}, pressed},
      {"/webhook", "giftName=Rose&secret=s3cr%C3%A9t", form, {}, pressed},
      {"/webhook?giftName=Rose", "", text, {{"X-Webhook-Secret", "s3cr\xC3\xA9t"}}, pressed},
      {"/webhook", "{\"giftName\": \"Rose\", \"secret\": \"s3cr\xC3\xA9t\"}", json, {}, pressed},
  };
  for (const auto& [target, body, type, headers, reply] : requests) {
    EXPECT_EQ(post(target, body, type, headers), reply) << target << " " << body;
  }
  EXPECT_EQ(console_.count("Requete refusee : secret absent ou incorrect"), 5u);
  EXPECT_EQ(console_.text().find("s3cr"), std::string::npos);
}

}  // namespace
