// The gift handler as the server runs it, on requests as the HTTP library
// hands them over: their query and form fields, headers and body.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>

#include "actions/key_press.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Fields = std::multimap<std::string, std::string>;
const std::string json = "application/json", pressed = R"(200 {"message": "Key pressed successfully"})";

class Endpoint : public ::testing::Test {
 protected:
  void SetUp() override { recording::reset(), std::ofstream(sound_) << "ID3"; }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // "status body" of the reply to a request with these fields, body and headers.
  std::string post(const config::GiftTable& gifts, const Fields& fields, const std::string& body = {},
                   const std::string& type = "text/plain", httplib::Headers headers = {}) {
    httplib::Request req;
    req.params = fields;
    req.body = body;
    req.headers = std::move(headers);
    req.headers.emplace("Content-Type", type);
    httplib::Response res;
    endpoint::serveGift(req, res, gifts, cooldowns_, secret_);
    EXPECT_EQ(res.get_header_value("Content-Type"), json);
    return std::to_string(res.status == -1 ? 200 : res.status) + " " + res.body;  // as the library sends it
  }
  Lines newLines() {  // printed since the last call
    const auto all = console_.lines();
    return Lines(all.begin() + static_cast<long>(std::exchange(seen_, all.size())), all.end());
  }

  std::filesystem::path dir_ = testing_support::scratchDir("endpoint");
  std::string sound_ = (dir_ / "rose.mp3").string(), secret_;
  endpoint::Cooldowns cooldowns_;
  testing_support::ConsoleCapture console_;
  std::size_t seen_ = 0;
};

TEST_F(Endpoint, WhereTheNameComesFromAndWhatEachGiftAnswers) {
  const config::GiftTable gifts{{"Key", {"key", "n", "", 100}},        {"Bad key", {"key", "ab", "", 100}},
                                {"Song", {"sound", "x", sound_, 50}},  {"Rose", {"key", "g", sound_, 80}},
                                {"Lost", {"key", "z", "", 100}},       {"Q", {"key", "q", "", 100}},
                                {"C\xC5\x93ur", {"key", "c", "", 100}}};
  recording::answerKeys([](std::span<const platform::Key> chord) {
    using enum platform::KeyResult::Outcome;
    const platform::Key Q = platform::keyAfter(platform::Key::A, 16);
    return platform::KeyResult{chord[0] == platform::Key::Z ? Failed : chord[0] == Q ? NoSuchKey : Pressed, "raison"};
  });
  const Lines key{"Cadeau recu: Key", "Touche 'n' pressee"};
  const Fields none, keyField{{"giftName", "Key"}, {"giftName", "Other"}};
  const std::tuple<Fields, std::string, std::string, std::string, Lines> cases[] = {
      {none, "", "text/plain", R"(200 {"error": "giftName parameter not found"})", {}},
      {{{"giftName", ""}}, "", "text/plain", R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}},
      {keyField, R"({"a": 1})", json, R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}},
      {keyField, "", "text/plain", pressed, key},
      {none, R"({"giftName": "Key"})", "application/json; charset=utf-8", pressed, key},
      // JSON only when the type says so, in lower case.
      {none, R"({"giftName": "Key"})", "text/plain", R"(200 {"error": "giftName parameter not found"})", {}},
      {keyField, R"({"giftName": "Rose"})", "APPLICATION/JSON", pressed, key},
      // Names match exactly.
      {{{"giftName", "key"}},
       "",
       "",
       R"(200 {"message": "Gift not configured"})",
       {"Cadeau recu: key", "Cadeau non configure: key"}},
      {none, R"({"giftName": "C\u0153ur"})", json, pressed, {"Cadeau recu: C\xC5\x93ur", "Touche 'c' pressee"}},
      // The sound starts before the key; an unknown action still plays its sound.
      {{{"giftName", "Rose"}},
       "",
       "",
       pressed,
       {"Cadeau recu: Rose", "Lecture audio: " + sound_ + " (volume: 80%)", "Touche 'g' pressee"}},
      {{{"giftName", "Song"}},
       "",
       "",
       R"(200 {"error": "Unknown action type"})",
       {"Cadeau recu: Song", "Lecture audio: " + sound_ + " (volume: 50%)"}},
      {{{"giftName", "Bad key"}},
       "",
       "",
       R"(200 {"error":"Key not supported: ab"})",
       {"Cadeau recu: Bad key", "Touche non supportee: ab"}},
      {{{"giftName", "Lost"}},
       "",
       "",
       R"(200 {"error": "Keys cannot be pressed on this computer"})",
       {"Cadeau recu: Lost", "Touche non pressee: z (raison)"}},
      // A key the keyboard lacks is as unsupported as an unknown one.
      {{{"giftName", "Q"}},
       "",
       "",
       R"(200 {"error":"Key not supported: q"})",
       {"Cadeau recu: Q", "Touche non supportee: q"}},
      // Bad JSON is an error reply in the library's words.
      {none, "{\"giftName\": ", json, R"(200 {"error":"[json.exception.parse_error.101] parse error)", {}},
      {none, "{\"giftName\": 5}", json, R"(200 {"error":"[json.exception.type_error.302])", {}},
  };
  for (const auto& [fields, body, type, reply, lines] : cases) {
    EXPECT_EQ(post(gifts, fields, body, type).substr(0, reply.size()), reply) << body;
    EXPECT_EQ(newLines(), lines) << body;
  }
  EXPECT_EQ(recording::presses().size(), 5u);  // none for the targets that are not keys
}

TEST_F(Endpoint, CooldownsAndAFullKeyQueue) {
  endpoint::Cooldowns cooldowns;
  const auto t0 = endpoint::Cooldowns::Clock::now();
  // Counted from the last run, not from a refused arrival; other gifts have their own.
  const std::tuple<const char*, std::chrono::milliseconds, std::chrono::milliseconds, bool> arrivals[] = {
      {"Rose", 2000ms, 0ms, true},    {"Rose", 2000ms, 1999ms, false}, {"Lion", 2000ms, 1999ms, true},
      {"Rose", 2000ms, 2000ms, true}, {"Rose", 2000ms, 3999ms, false}, {"Rose", 0ms, 3999ms, true}};
  for (const auto& [gift, cooldown, at, runs] : arrivals) EXPECT_EQ(cooldowns.mayRun(gift, cooldown, t0 + at), runs);

  const config::GiftTable gifts{{"Lion", {"key", "g", sound_, 100, 50ms, 1, 1min}}, {"Tiger", {"key", "n", "", 100}}};
  EXPECT_EQ(post(gifts, {{"giftName", "Lion"}}), pressed);
  newLines();
  EXPECT_EQ(post(gifts, {{"giftName", "Lion"}}), R"(200 {"message": "Gift on cooldown"})");
  EXPECT_EQ(newLines(), (Lines{"Cadeau recu: Lion", "Cadeau en recharge: Lion"}));
  // No time to wait: a key is pressed only when it is free at once, and the gap after a press keeps it from being free.
  actions::setKeyPacing(actions::keyGap, 0ms);
  EXPECT_EQ(post(gifts, {{"giftName", "Tiger"}}), pressed);
  EXPECT_EQ(post(gifts, {{"giftName", "Tiger"}}), R"(200 {"error": "Key queue full"})");
  actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit);
  EXPECT_EQ(console_.lines().back(), "File d'attente pleine: Tiger");
  EXPECT_EQ(recording::presses().size() + recording::sounds().size(), 3u);
}

TEST_F(Endpoint, ARequestMustCarryTheSecretWhenOneIsSet) {
  const config::GiftTable gifts{{"Rose", {"key", "g", "", 100}}};
  secret_ = "s3cr\xC3\xA9t";
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const Fields rose{{"giftName", "Rose"}};
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}, {"secret", "s3cr"}}), forbidden);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}), forbidden);
  EXPECT_EQ(post(gifts, {}, R"({"giftName": "Rose", "secret": 5})", json), forbidden);
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}, {"secret", secret_}}), pressed);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", secret_}}), pressed);
  EXPECT_EQ(post(gifts, {}, R"({"giftName": "Rose", "secret": ")" + secret_ + "\"}", json), pressed);
  EXPECT_EQ(console_.count("Requete refusee : secret absent ou incorrect"), 3u);
  EXPECT_EQ(console_.text().find("s3cr"), std::string::npos);
}

}  // namespace
