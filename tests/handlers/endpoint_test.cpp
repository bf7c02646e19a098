// The gift handler as the server runs it, on requests as the HTTP library
// hands them over: their query and form fields, headers and body.
#include <gtest/gtest.h>
#include <httplib.h>
#include <malloc.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>

#include "actions/key_press.hpp"
#include "endpoint/gift_handler.hpp"
#include "gifts/handle_event.hpp"
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
                   const std::string& type = "text/plain", httplib::Headers headers = {},
                   const std::string& method = "POST") {
    const auto loaded = std::make_shared<const config::LoadedConfig>(config::LoadedConfig{"T0k", gifts, secret_});
    httplib::Request req;
    req.method = method;
    req.params = fields;
    req.body = body;
    req.headers = std::move(headers);
    req.headers.emplace("Content-Type", type);
    httplib::Response res;
    endpoint::serveGift(req, res, loaded, state_);
    EXPECT_EQ(res.get_header_value("Content-Type"), json + "; charset=utf-8");
    return std::to_string(res.status == -1 ? 200 : res.status) + " " + res.body;  // as the library sends it
  }
  Lines newLines() {  // printed since the last call
    const auto all = console_.lines();
    return Lines(all.begin() + static_cast<long>(std::exchange(seen_, all.size())), all.end());
  }

  std::filesystem::path dir_ = testing_support::scratchDir("endpoint");
  std::string sound_ = (dir_ / "rose.mp3").string(), secret_;
  std::shared_ptr<gifts::EventState> state_ = std::make_shared<gifts::EventState>();
  testing_support::ConsoleCapture console_;
  std::size_t seen_ = 0;
};

TEST_F(Endpoint, WhereTheNameComesFromAndWhatEachGiftAnswers) {
  const config::GiftTable gifts{{"Key", {"key", "n", "", 100}},
                                {"Bad", {"key", "ab", "", 100}},
                                {"Song", {"sound", "x", sound_, 50}},
                                {"Sing", {"sing", "x", sound_, 50}},
                                {"Rose", {"key", "g", sound_, 80}},
                                {"Z", {"key", "z", "", 100}},
                                {"Q", {"key", "q", "", 100}},
                                {"Web", {"webhook", "localhost/x?token=T0k&t=T0k", "", 100}},
                                {"Mute", {"sound", "", sound_ + ".gone", 50}}};
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
      // A JSON object is read whatever its type says, and alone.
      {keyField, R"(200 {"error": "giftName not provided"})", {"Cadeau recu: "}, R"({"a": 1})", json},
      {none, pressed, key, R"({"giftName": "Key"})"},
      // Names match exactly.
      {named("key"), notConfigured, {"Cadeau recu: key", "Cadeau non configure: key"}},
      // The sound starts before the key; an unknown action still plays its sound.
      {named("Rose"), pressed, {"Cadeau recu: Rose", heard + " (volume: 80%)", "Touche 'g' pressee"}},
      {named("Song"), R"(200 {"message": "Sound played"})", {"Cadeau recu: Song", heard + " (volume: 50%)"}},
      {named("Sing"), R"(200 {"error": "Unknown action type"})", {"Cadeau recu: Sing", heard + " (volume: 50%)"}},
      {none,
       R"(200 {"count":0,"error":"Sound file not found: )" + sound_ + ".gone\"}",
       {"Cadeau recu: Mute x2", "Fichier audio non trouve : " + sound_ + ".gone"},
       R"({"giftName": "Mute", "repeatCount": 2})"},
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
      // Bad JSON is an error reply in the library's words, when the type says JSON.
      {none, R"(200 {"error":"[json.exception.parse_error.101] parse error)", {}, "{\"giftName\": ", json},
      {none,
       R"(200 {"error":"repeatCount must be a whole number from 1 to 1000"})",
       {},
       R"({"giftName": "Key", "repeatCount": "abc"})"},
  };
  for (const auto& [fields, reply, lines, body, type] : cases) {
    EXPECT_EQ(post(gifts, fields, body, type).substr(0, reply.size()), reply) << body;
    EXPECT_EQ(newLines(), lines) << body;
  }
  // A relay that can only send GET puts the fields in the query.
  EXPECT_EQ(post(gifts, named("Key"), "", "", {}, "GET"), pressed);
  EXPECT_EQ(recording::presses().size(), 3u);  // none for the targets that are not keys
  EXPECT_EQ(std::make_tuple(state_->tally.received(), state_->cooldowns.runs("Key")),
            std::make_tuple(13u, 2u));  // named, or configured
  // The latest request first, with what was read from it and its reply.
  const auto logged = state_->requests.latest();
  EXPECT_EQ(
      std::make_tuple(logged[0]["method"], logged[0]["read"]["name"], logged[0]["reply"], logged[1].contains("read")),
      std::make_tuple("GET", "Key", pressed.substr(4), false));
}

TEST_F(Endpoint, AKeyWaitsBrieflyForItsOwnSoundSoThatTheConsoleTellsTheSoundFirst) {
  const config::GiftTable gifts{{"Rose", {"key", "g", sound_, 80}}};
  const Lines heard{"Lecture audio: " + sound_ + " (volume: 80%)"}, key{"Cadeau recu: Rose", "Touche 'g' pressee"};
  recording::holdSounds();
  // The sound starts as soon as the system has it: the key goes down after it, and its line comes first.
  std::atomic<bool> replied = false;
  recording::Clock::time_point started;
  std::thread starter([&] {
    while (!replied && (started = recording::Clock::now(), recording::startHeldSounds() == 0)) {
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}}), pressed);
  replied = true;
  starter.join();
  EXPECT_GT(recording::presses().at(0).down, started);
  EXPECT_EQ(newLines(), (Lines{key[0], heard[0], key[1]}));
  // It does not start in time: the key goes, and the sound is told when it starts.
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}}), pressed);
  EXPECT_EQ(newLines(), key);
  EXPECT_EQ(recording::startHeldSounds(), 1u);
  EXPECT_EQ(newLines(), heard);
}

TEST_F(Endpoint, KeysGoOnlyWhereTheyMayAndLeaveTheStreamersOwnKeysAlone) {
  using platform::Key;
  const Key C = platform::keyAfter(Key::A, 2), W = platform::keyAfter(Key::A, 22);
  config::GiftAction game{"key", "w", "", 100};
  game.window = "MineCraft";
  const config::GiftTable gifts{{"Game", game}, {"Copy", {"key", "ctrl+c", "", 100}}};
  const platform::FocusedWindow minecraft{"javaw.exe", "Minecraft 1.21"}, notepad{"notepad.exe", "Notes"};
  const std::string notes = R"("Notes" (notepad.exe))",
                    left = "deja tenue par le streamer : le cadeau ne la presse pas";
  const struct {
    std::optional<platform::FocusedWindow> focus;
    std::vector<Key> streamer;
    const char* gift;
    std::string reply, line;  // the reply's start, the gift's second line
    std::vector<Key> pressed;
  } cases[] = {
      {minecraft, {}, "Game", pressed, "Touche 'w' pressee", {W}},
      {platform::FocusedWindow{"java", "", "minecraft"}, {}, "Game", pressed, "Touche 'w' pressee", {W}},  // its class
      // Never where the system would drop it; the streamer's own keys neither pressed again nor let go.
      {platform::FocusedWindow{"notepad.exe", "Notes", "", true},
       {},
       "Copy",
       R"(200 {"error":"Key not sent: the focused window, \"Notes\" (notepad.exe), runs as administrator; start)",
       "Touche non pressee: ctrl+c (la fenetre active, " + notes + ", tourne en administrateur : Windows ne lui",
       {}},
      {minecraft, {W, Key::Shift}, "Game", pressed, "Touche 'w' " + left, {}},
      {notepad, {Key::Ctrl}, "Copy", pressed, "Touche 'ctrl' " + left, {C}},
  };
  for (const auto& [focus, streamer, gift, reply, line, keys] : cases) {
    recording::reset();
    recording::focusOn(focus);
    recording::streamerHolds(streamer);
    EXPECT_EQ(post(gifts, {{"giftName", gift}}).substr(0, reply.size()), reply) << gift;
    EXPECT_EQ(newLines().at(1).substr(0, line.size()), line);
    const auto made = recording::presses();
    EXPECT_EQ(made.empty() ? std::vector<Key>{} : made[0].chord, keys) << gift;
  }
}

TEST_F(Endpoint, EveryGiftOfACountOrAStreakRunsOnceAndTheReplyDoesNotWaitForThem) {
  const config::GiftTable gifts{{"Rose", {"key", "g", sound_, 100}},
                                {"Lion", {"key", "l", "", 100, 50ms, 2, 1min}},
                                {"Slow", {"key", "s", "", 100, 200ms}}};
  const auto frame = [&](const std::string& fields) {
    return post(gifts, {}, "{\"giftName\": \"Rose\"" + fields + "}");
  };
  const auto counted = [](int n, const char* message = "Key pressed successfully") {
    return "200 {\"count\":" + std::to_string(n) + ",\"message\":\"" + message + "\"}";
  };
  const std::string again = counted(0, "Gift already counted");
  // One viewer's frames as a relay forwards them: 1, 1, 3, 3 and the end.
  EXPECT_EQ(frame(R"(, "uniqueId": "al", "nickname": "Al\n", "repeatCount": 1)"), counted(1));
  EXPECT_EQ(newLines(), (Lines{"Cadeau recu: Rose x1 de Al?", "Lecture audio: " + sound_ + " (volume: 100%)",
                               "Touche 'g' pressee"}));
  EXPECT_EQ(frame(R"(, "uniqueId": "al", "repeatCount": "1")"), again);
  EXPECT_EQ(newLines(), Lines{"Cadeau deja compte: Rose de al (serie a 1)"});
  EXPECT_EQ(frame(R"(, "uniqueId": "al", "repeatCount": 3)"), counted(2));
  EXPECT_EQ(frame(R"(, "uniqueId": "al", "repeatCount": 3, "repeatEnd": true)"), again);
  // After the end, a new streak from zero; another viewer's streak is their own.
  EXPECT_EQ(frame(R"(, "user": {"uniqueId": "al"}, "repeat_count": 2, "msgId": "m1")"), counted(2));
  EXPECT_EQ(frame(R"(, "username": "bo", "count": 2, "msgId": "m2")"), counted(2));
  EXPECT_EQ(frame(R"(, "uniqueId": "bo", "count": 1, "msgId": "m2")"), again);  // an id seen before
  EXPECT_EQ(newLines().back(), "Cadeau deja compte: Rose de bo (evenement deja recu)");
  EXPECT_EQ(frame(R"(, "repeatCount": 4)"), counted(4));  // a count from nobody: that many gifts
  const auto pressesOf = [](char letter) {
    return std::ranges::count_if(recording::presses(), [letter](auto& p) {
      return p.chord[0] == platform::keyAfter(platform::Key::A, letter - 'a');
    });
  };
  testing_support::waitUntil([&] { return console_.count("Touche 'g' pressee encore ") == 4; });
  EXPECT_EQ(pressesOf('g'), 11);
  EXPECT_EQ(recording::soundsPlayed(), 5u);  // once a request that ran a gift
  // A cooldown lets the first gift of a count through, and no more.
  EXPECT_EQ(post(gifts, {{"giftName", "Lion"}, {"count", "5"}}), counted(1));
  EXPECT_EQ(post(gifts, {{"giftName", "Lion"}, {"count", "5"}}), "200 {\"count\":0,\"message\":\"Gift on cooldown\"}");
  // The reply comes after the first gift's presses; the others follow it.
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(post(gifts, {{"giftName", "Slow"}, {"count", "3"}}), counted(3));
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 600ms);  // all three would take 660 ms
  newLines();
  testing_support::waitUntil([&] { return console_.count("Touche 's' pressee encore 2 fois") == 1; });
  EXPECT_EQ(pressesOf('l'), 2);  // Lion's two presses, once
  EXPECT_EQ(std::make_tuple(state_->cooldowns.runs("Rose"), state_->tally.received()),
            std::make_tuple(11u, 11u + 10u + 3u));
}

TEST_F(Endpoint, ARequestMustCarryTheSecretWhenOneIsSet) {
  const config::GiftTable gifts{{"Rose", {"key", "g", "", 100}}};
  secret_ = "s3cr\xC3\xA9t";
  const std::string forbidden = R"(403 {"error": "Forbidden"})";
  const Fields rose{{"giftName", "Rose"}};
  EXPECT_EQ(post(gifts, {{"giftName", "Rose"}, {"secret", "s3cr"}}), forbidden);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", "S3CR\xC3\xA9T"}}), forbidden);
  EXPECT_EQ(post(gifts, rose, "", "", {{"X-Webhook-Secret", secret_}}), pressed);
  for (const char* body :
       {R"({"giftName": "Rose", "secret": "%"})", R"({"data": {"giftName": "Rose", "secret": "%"}})"})
    EXPECT_EQ(post(gifts, {}, std::regex_replace(body, std::regex("%"), secret_), json), pressed);
  const Fields form{{"giftName", "Rose"}, {"secret", secret_}};  // a form's; above, a JSON body's or its data's
  EXPECT_EQ(post(gifts, form, "giftName=Rose&secret=s3cr%C3%A9t", "application/x-www-form-urlencoded"), pressed);
  EXPECT_EQ(post(gifts, {}, R"({"giftName": "Rose", "secret": "s3cr\u00e9"})", json), forbidden);
  EXPECT_EQ(console_.count("Requete refusee : secret absent ou incorrect"), 3u);
  // Neither the secret nor what came near it is shown on the requests panel.
  const std::string logged = state_->requests.latest().dump();
  EXPECT_EQ(logged.find("s3cr"), std::string::npos) << logged;
  EXPECT_NE(logged.find(R"(\"secret\":\"***\")"), std::string::npos) << logged;
  // The feed tells a refusal as the console does, with the name the request gave.
  std::uint64_t seen = 0;
  const auto feed = nlohmann::json::parse(state_->teller.feed().next(seen, 0ms, 0ms));
  EXPECT_EQ(std::make_tuple(feed[0]["kind"], feed[0]["name"], feed[0]["line"]),
            std::make_tuple("refused", "Rose", "Requete refusee : secret absent ou incorrect"));
  EXPECT_EQ(console_.text().find("s3cr"), std::string::npos);
}

TEST_F(Endpoint, LongIdsViewersAndGroupsAreKeptAtAFixedSizeAndGiftsNotInTheFileNotAtAll) {
  const config::GiftTable gifts{{"Rose", {"key", "g", "", 100, 50ms, 1, 1h}}};
  const auto before = mallinfo2().uordblks;
  for (int i = 0; i < 400; ++i) {
    const std::string id = std::to_string(i) + std::string(60'000, 'x');
    const nlohmann::json frame{{"giftName", i % 2 ? "Rose" : id}, {"msgId", id}, {"uniqueId", id}, {"groupId", id}};
    post(gifts, {}, frame.dump());
  }
  // 96 MB came: what is kept is what the panel and the feed keep, cut, and digests.
  EXPECT_LT(mallinfo2().uordblks - before, 4u << 20);
  EXPECT_EQ(state_->cooldowns.runs("Rose"), 1u);
  EXPECT_EQ(state_->requests.latest()[1]["read"]["name"], "398" + std::string(197, 'x') + "...");
}

}  // namespace
