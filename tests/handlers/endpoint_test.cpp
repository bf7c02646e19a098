// The gift handler as the server runs it, on requests as the HTTP library
// hands them over: their query and form fields, headers and body.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>

#include "actions/key_press.hpp"
#include "endpoint/gift_handler.hpp"
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
    const config::LoadedConfig loaded{"T0k", gifts, secret_};
    httplib::Request req;
    req.params = fields;
    req.body = body;
    req.headers = std::move(headers);
    req.headers.emplace("Content-Type", type);
    httplib::Response res;
    endpoint::serveGift(req, res, loaded, history_);
    EXPECT_EQ(res.get_header_value("Content-Type"), json + "; charset=utf-8");
    return std::to_string(res.status == -1 ? 200 : res.status) + " " + res.body;  // as the library sends it
  }
  Lines newLines() {  // printed since the last call
    const auto all = console_.lines();
    return Lines(all.begin() + static_cast<long>(std::exchange(seen_, all.size())), all.end());
  }

  std::filesystem::path dir_ = testing_support::scratchDir("endpoint");
  std::string sound_ = (dir_ / "rose.mp3").string(), secret_;
  endpoint::GiftHistory history_;
  testing_support::ConsoleCapture console_;
  std::size_t seen_ = 0;
};

TEST_F(Endpoint, WhereTheNameComesFromAndWhatEachGiftAnswers) {
  const config::GiftTable gifts{{"Key", {"key", "n", "", 100}},
                                {"Bad", {"key", "ab", "", 100}},
                                {"Song", {"sound", "x", sound_, 50}},
                                {"Rose", {"key", "g", sound_, 80}},
                                {"Z", {"key", "z", "", 100}},
                                {"Q", {"key", "q", "", 100}},
                                {"Web", {"webhook", "localhost/x?token=T0k&t=T0k", "", 100}}};
  recording::answerKeys([](std::span<const platform::Key> chord) {
    using enum platform::KeyPress;
    if (chord[0] == platform::Key::Z) return Result<platform::KeyPress>(Failure{"raison"});
    return Result<platform::KeyPress>(chord[0] == platform::keyAfter(platform::Key::A, 16) ? NoSuchKey : Pressed);
  });
  const Lines key{"Cadeau recu: Key", "Touche 'n' pressee"};
  const auto named = [](const char* name) { return Fields{{"giftName", name}}; };
  const Fields none, keyField{{"giftName", "Key"}, {"giftName", "Other"}};
  struct Case {
    Fields fields;
    std::string reply;
    Lines lines;
    std::string body = {}, type = "text/plain";
  };
  const std::string noParameter = R"(200 {"error": "giftName parameter not found"})",
                    heard = "Lecture audio: " + sound_, notConfigured = R"(200 {"message": "Gift not configured"})";
  const Case cases[] = {
      {none, noParameter, {}},
      {keyField, R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}, R"({"a": 1})", json},
      {none, pressed, key, R"({"giftName": "Key"})", "application/json; charset=utf-8"},
      // JSON only when the type says so, in lower case.
      {none, noParameter, {}, R"({"giftName": "Key"})"},
      {keyField, pressed, key, R"({"giftName": "Rose"})", "APPLICATION/JSON"},
      // Names match exactly.
      {named("key"), notConfigured, {"Cadeau recu: key", "Cadeau non configure: key"}},
      // The sound starts before the key; an unknown action still plays its sound.
      {named("Rose"), pressed, {"Cadeau recu: Rose", heard + " (volume: 80%)", "Touche 'g' pressee"}},
      {named("Song"), R"(200 {"error": "Unknown action type"})", {"Cadeau recu: Song", heard + " (volume: 50%)"}},
      {named("Bad"), R"(200 {"error":"Key not supported: ab"})", {"Cadeau recu: Bad", "Touche non supportee: ab"}},
      {named("Z"),
       R"(200 {"error": "Keys cannot be pressed on this computer"})",
       {"Cadeau recu: Z", "Touche non pressee: z (raison)"}},
      // A key the keyboard lacks is as unsupported as an unknown one.
      {named("Q"), R"(200 {"error":"Key not supported: q"})", {"Cadeau recu: Q", "Touche non supportee: q"}},
      // What the program did not write is shown without controls, and the token never.
      {named("a\nb\x1B[31m"), notConfigured, {"Cadeau recu: a?b?[31m", "Cadeau non configure: a?b?[31m"}},
      {named("Web"),
       R"x(200 {"error":"Webhook call failed: invalid URL (no scheme)"})x",
       {"Cadeau recu: Web", "URL invalide (pas de protocole): localhost/x?token=***&t=***"}},
      // Bad JSON is an error reply in the library's words.
      {none, R"(200 {"error":"[json.exception.parse_error.101] parse error)", {}, "{\"giftName\": ", json},
  };
  for (const auto& [fields, reply, lines, body, type] : cases) {
    EXPECT_EQ(post(gifts, fields, body, type).substr(0, reply.size()), reply) << body;
    EXPECT_EQ(newLines(), lines) << body;
  }
  EXPECT_EQ(recording::presses().size(), 3u);  // none for the targets that are not keys
  EXPECT_EQ(std::make_tuple(history_.received(), history_.runs("Key")),
            std::make_tuple(10u, 2u));  // named, or configured
}

TEST_F(Endpoint, CooldownsAndAFullKeyQueue) {
  endpoint::GiftHistory history;
  const auto t0 = endpoint::GiftHistory::Clock::now();
  // Counted from the last run, not from a refused arrival; other gifts have their own.
  const std::tuple<const char*, std::chrono::milliseconds, std::chrono::milliseconds, bool> arrivals[] = {
      {"Rose", 2000ms, 0ms, true},    {"Rose", 2000ms, 1999ms, false}, {"Lion", 2000ms, 1999ms, true},
      {"Rose", 2000ms, 2000ms, true}, {"Rose", 2000ms, 3999ms, false}, {"Rose", 0ms, 3999ms, true},
      {"Rose", 0ms, 3000ms, true}};  // arrived before the last run began, it runs all the same
  for (const auto& [gift, cooldown, at, runs] : arrivals) EXPECT_EQ(history.mayRun(gift, cooldown, t0 + at), runs);
  for (const auto after : {0min, 0min, 1min, 59min, 60min}) history.arrived(t0 + after);
  const auto counts = history.perMinute(t0 + 60min);  // the hour up to t0 + 60 min: t0 itself is gone
  EXPECT_EQ(std::make_tuple(counts[0], counts[58], counts[59], std::accumulate(counts.begin(), counts.end(), 0u)),
            std::make_tuple(1u, 1u, 1u, 3u));
  history.arrived(t0 + 180min);
  const auto later = history.perMinute(t0 + 180min);  // two hours on, the first hour's counts are gone
  EXPECT_EQ(std::make_tuple(later[59], std::accumulate(later.begin(), later.end(), 0u)), std::make_tuple(1u, 1u));
  EXPECT_EQ(std::make_tuple(history.runs("Rose"), history.runs("Lion"), history.runs("Tiger")),
            std::make_tuple(4u, 1u, 0u));

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
  EXPECT_EQ(recording::presses().size() + recording::soundsPlayed(), 3u);
}

TEST_F(Endpoint, ARequestMustCarryTheSecretWhenOneIsSet) {
  const config::GiftTable gifts{{"Rose", {"key", "g", "", 100}}};
  secret_ = "s3cr\xC3\xA9t";
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const Fields rose{{"giftName", "Rose"}};
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}, {"secret", "s3cr"}}), forbidden);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}), forbidden);
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}, {"secret", secret_}}), pressed);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", secret_}}), pressed);
  EXPECT_EQ(post(gifts, {}, R"({"giftName": "Rose", "secret": ")" + secret_ + "\"}", json), pressed);
  EXPECT_EQ(console_.count("Requete refusee : secret absent ou incorrect"), 2u);
  // The feed tells a refusal as the console does, with the name the request gave.
  std::uint64_t seen = 0;
  const auto feed = nlohmann::json::parse(history_.feed().next(seen, 0ms, 0ms));
  EXPECT_EQ(std::make_tuple(feed[0]["kind"], feed[0]["name"], feed[0]["line"]),
            std::make_tuple("refused", "Rose", "Requete refusee : secret absent ou incorrect"));
  EXPECT_EQ(console_.text().find("s3cr"), std::string::npos);
}

}  // namespace
