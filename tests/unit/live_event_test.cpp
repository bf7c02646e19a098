// What each kind of relay sends, and what is read of it.
#include "gifts/live_event.hpp"

#include <gtest/gtest.h>

#include "gifts/cooldowns.hpp"
#include "gifts/event_counting.hpp"
#include "gifts/gift_counter.hpp"
#include "gifts/tally.hpp"

namespace {

using namespace std::chrono_literals;
using gifts::LiveEvent;

struct Read {
  std::string name;
  std::optional<int> count;
  std::string viewer, nickname, streak;
  bool end = false;
  std::optional<std::int64_t> type = {};
  std::string id = {};
  std::optional<std::int64_t> diamonds = {};
};

TEST(LiveEvent, EachRelayFormatIsReadFromTheFirstOfItsNames) {
  struct Case {
    gifts::RelayRequest request;
    Read read;
  };
  const auto body = [](std::string text, std::string type = "application/json") {
    return gifts::RelayRequest{"POST", std::move(type), std::move(text), {}};
  };
  const auto query = [](std::multimap<std::string, std::string> fields) {
    return gifts::RelayRequest{"GET", "", "", std::move(fields)};
  };
  const Case cases[] = {
      {body(R"({"giftName": "Rose"})"), {"Rose", {}, "", "", ""}},
      {body(R"({"giftName": "Rose", "repeatCount": 5})", "text/plain"), {"Rose", 5, "", "", ""}},
      {query({{"giftName", "Rose"}, {"repeatCount", "12"}, {"uniqueId", "al"}, {"nickname", "Al"}}),
       {"Rose", 12, "al", "Al", ""}},
      // The whole event, forwarded: its data, numbers as texts, ids as numbers.
      {body(R"({"event": "gift", "data": {"giftName": "Lion", "repeatCount": "1", "uniqueId": "al", "groupId": 77,
                 "repeatEnd": "true", "giftType": "2", "msgId": 123, "diamondCount": 29999}})"),
       {"Lion", 1, "al", "", "77", true, 2, "123", 29999}},
      // Other spellings, each after the one before it.
      {body(R"({"gift_name": "A", "name": "x", "repeat_count": 2, "count": 9, "username": "u", "userId": 5})"),
       {"A", 2, "u", "", ""}},
      {body(R"({"gift": {"name": "B", "repeat_count": 3}, "count": 4, "userId": 5, "repeatEnd": 1})"),
       {"B", 4, "5", "", "", true}},
      {body(
           R"({"gift": {"name": "C", "repeat_count": 3}, "user": {"uniqueId": "v", "nickname": "V"}, "repeatEnd": 0})"),
       {"C", 3, "v", "V", ""}},
      {body(R"({"giftName": "D", "giftType": 1, "repeatEnd": "yes"})"), {"D", {}, "", "", "", false, 1}},
      // Fields are read at the top level when it names a gift.
      {body(R"({"giftName": "Top", "data": {"giftName": "Inner", "repeatCount": 3}})"), {"Top", {}, "", "", ""}},
      {body(R"({"a": 1})"), {"", {}, "", "", ""}},
      {query({{"giftName", ""}}), {"", {}, "", "", ""}},
      {body(R"({"giftName": "E", "repeatCount": 1000.0})", ""), {"E", 1000, "", "", ""}},
  };
  for (const auto& [request, expected] : cases) {
    const auto read = gifts::readLiveEvent(request);
    ASSERT_TRUE(read) << request.body << read.failure().text;
    const LiveEvent& e = *read;
    EXPECT_EQ(
        std::tie(e.name, e.count, e.viewer, e.nickname, e.streak, e.streakEnd, e.giftType, e.messageId, e.diamonds),
        std::tie(expected.name, expected.count, expected.viewer, expected.nickname, expected.streak, expected.end,
                 expected.type, expected.id, expected.diamonds))
        << request.body;
  }
}

TEST(LiveEvent, EachKindIsReadWhereverItsRelayNamesIt) {
  using enum gifts::EventKind;
  struct Case {
    std::string body;
    gifts::EventKind kind;
    std::string viewer = {}, text = {};
    std::optional<std::int64_t> likes = {}, total = {};
  };
  const Case cases[] = {
      {R"({"event": "follow", "data": {"uniqueId": "al"}})", Follow, "al"},
      {R"({"type": "SHARE", "uniqueId": "al"})", Share, "al"},
      {R"({"eventType": "sub", "user": {"uniqueId": "al"}})", Subscribe, "al"},
      {R"({"eventName": "subscription"})", Subscribe},
      {R"({"event": "subscribe"})", Subscribe},
      {R"({"data": {"event": "member", "uniqueId": "bo"}})", Join, "bo"},
      {R"({"event": "join"})", Join},
      {R"({"event": "comment", "data": {"uniqueId": "al", "comment": "je veux un !SAUT"}})", Chat, "al",
       "je veux un !SAUT"},
      {R"({"event": "chat", "message": "m"})", Chat, "", "m"},
      {R"({"event": "chat", "text": "t"})", Chat, "", "t"},
      {R"({"event": "like", "data": {"likeCount": "15", "totalLikeCount": 1200}})", Like, "", "", 15, 1200},
      {R"({"event": "likes", "likeCount": -3})", Like},
      {R"({"event": "social", "data": {"displayType": "pm_mt_guidance_share", "uniqueId": "al"}})", Share, "al"},
      {R"({"event": "social", "displayType": "pm_main_follow_message_viewer_2"})", Follow},
      {R"({"event": "social", "displayType": "other"})", Unknown},
      {R"({"event": "roomUser"})", Unknown},
      // A gift, as such requests always were: no kind, a kind of a number, or
      // a word this program does not know beside a gift's name.
      {R"({"giftName": "Rose"})", Gift},
      {R"({"type": 1, "giftName": "Rose"})", Gift},
      {R"({"type": "webhook", "giftName": "Rose"})", Gift},
      {R"({"event": "gift", "data": {"giftName": "Rose"}})", Gift},
  };
  for (const auto& c : cases) {
    const auto read = gifts::readLiveEvent({"POST", "application/json", c.body, {}});
    ASSERT_TRUE(read) << c.body;
    EXPECT_EQ(std::tie(read->kind, read->viewer, read->text, read->likes, read->totalLikes),
              std::tie(c.kind, c.viewer, c.text, c.likes, c.total))
        << c.body;
  }
  const auto fields = gifts::readLiveEvent({"GET", "", "", {{"event", "follow"}, {"uniqueId", "al"}}});
  EXPECT_EQ(std::pair(fields->kind, fields->viewer), std::pair(Follow, std::string("al")));
  EXPECT_EQ(gifts::readLiveEvent({"POST", "application/json", R"({"event": "roomUser"})", {}})->kindName, "roomuser");
}

TEST(LikeCounter, TotalsCountFromTheFirstHeardAndNeverBackwards) {
  struct Case {
    std::optional<std::int64_t> total, likes;
    int steps;
  };
  const std::vector<std::vector<Case>> streams = {
      {{40, {}, 0}, {90, {}, 0}, {130, {}, 1}, {130, {}, 0}, {250, {}, 1}, {120, {}, 0}, {310, {}, 1}},
      {{5300, {}, 0}, {5400, {}, 1}, {5399, {}, 0}, {5750, {}, 3}},  // a restart mid-stream runs nothing at once
      {{{}, 60, 0}, {{}, 60, 1}, {{}, 0, 0}, {{}, 250, 2}},          // without totals: the sum of each event's
      {{{}, 99, 0}, {{}, 1, 1}},                                     // a single like counts too
      {{{}, {}, 0}, {1, {}, 0}, {10'000'000, {}, 1000}},             // at most a request's count at once
  };
  for (const auto& stream : streams) {
    gifts::LikeCounter counter;
    for (const Case& c : stream) {
      EXPECT_EQ(counter.heard(c.total, c.likes, 100).steps, c.steps)
          << (c.total ? *c.total : -1) << " " << (c.likes ? *c.likes : -1);
    }
  }
  // The chart's last bar is the minute under way.
  gifts::Tally tally;
  const auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(3);
  tally.arrived(2, now - std::chrono::minutes(1));
  tally.arrived(5, now);
  EXPECT_EQ(std::tuple(tally.perMinute(now)[58], tally.perMinute(now)[59]), std::tuple(2u, 5u));
  gifts::LikeCounter counted;
  counted.heard(1000, {}, 0);
  EXPECT_EQ(counted.heard(1070, {}, 0).added, 70);
}

TEST(ChatCommand, ACommandIsAWordOfTheMessageWhateverItsCaseAndAccents) {
  const std::pair<std::string, bool> messages[] = {
      {"je veux un !SAUT stp", true},
      {"!saut", true},
      {"!saut!!", true},
      {"(!Saut)", true},
      {"!sauter", false},
      {"!sauts", false},
      {"saut", false},
      {"", false},
  };
  for (const auto& [message, holds] : messages) EXPECT_EQ(gifts::holdsCommand(message, "!saut"), holds) << message;
  EXPECT_TRUE(gifts::holdsCommand("Allez, DANSÉ !", "dansé"));
  EXPECT_TRUE(gifts::holdsCommand("on danse ?", "DANSÉ"));
  EXPECT_TRUE(gifts::holdsCommand("ŒUF", "oeuf"));
  EXPECT_FALSE(gifts::holdsCommand("anything", " "));
}

TEST(ViewerMemory, AViewerIsNotedOnceOrOncePerSpan) {
  gifts::ViewerMemory memory;
  const gifts::ViewerMemory::Clock::time_point t0{};
  const std::string follow = "follow", al = "al", bo = "bo";
  EXPECT_TRUE(memory.firstTime({&follow, &al}, t0));
  EXPECT_FALSE(memory.firstTime({&follow, &al}, t0 + 24h));
  EXPECT_TRUE(memory.firstTime({&follow, &bo}, t0));
  EXPECT_TRUE(memory.firstTime({&al}, t0, 5s));
  EXPECT_FALSE(memory.firstTime({&al}, t0 + 4s, 5s));
  EXPECT_TRUE(memory.firstTime({&al}, t0 + 5s, 5s));
}

TEST(LiveEvent, WhatCannotBeReadSaysWhy) {
  using Kind = gifts::ReadFailure::Kind;
  const std::pair<gifts::RelayRequest, std::pair<Kind, std::string>> cases[] = {
      {{"POST", "", "", {}}, {Kind::NoName, ""}},
      {{"POST", "text/plain", "giftName=Rose", {}}, {Kind::NoName, ""}},
      {{"POST", "text/plain", "[1]", {{"name", "Rose"}}}, {Kind::NoName, ""}},
      {{"POST", "application/json", "{", {{"giftName", "Rose"}}}, {Kind::BadJson, "[json.exception.parse_error.101]"}},
      {{"POST", "application/json", R"({"giftName": 5})", {}}, {Kind::BadJson, "[json.exception.type_error.302]"}},
      {{"POST", "", "{\"a\":" + std::string(64, '[') + "]}", {}}, {Kind::BadJson, "JSON nested more than 64"}},
      {{"GET", "", "", {{"giftName", "R"}, {"repeatCount", "abc"}}}, {Kind::BadCount, "repeatCount"}},
      {{"GET", "", "", {{"giftName", "R"}, {"count", "0"}}}, {Kind::BadCount, "count"}},
      {{"POST", "", R"({"giftName": "R", "repeatCount": 1001})", {}}, {Kind::BadCount, "repeatCount"}},
      {{"POST", "", R"({"giftName": "R", "repeat_count": 2.5})", {}}, {Kind::BadCount, "repeat_count"}},
      {{"POST", "", R"({"giftName": "R", "gift": {"repeat_count": true}})", {}}, {Kind::BadCount, "gift.repeat_count"}},
  };
  for (const auto& [request, expected] : cases) {
    const auto read = gifts::readLiveEvent(request);
    ASSERT_FALSE(read) << request.body;
    EXPECT_EQ(read.failure().kind, expected.first) << request.body;
    EXPECT_TRUE(read.failure().text.starts_with(expected.second)) << read.failure().text;
  }
}

TEST(GiftCounter, EachGiftOfAStreakCountsOnceWhateverTheRelayForwards) {
  gifts::GiftCounter counter;
  const auto t0 = gifts::GiftCounter::Clock::now();
  struct Event {
    std::string viewer;
    std::optional<int> count;
    std::chrono::milliseconds at;
    int gifts;
    std::string streak = {}, id = {};
    bool end = false;
    std::optional<std::int64_t> type = {};
    std::string name = "Rose";
  };
  const Event events[] = {
      {"", {}, 0ms, 1},                               // no count: one gift
      {"", 12, 0ms, 12},                              // a count from nobody: that many
      {"al", 1, 0ms, 1},                              // al's streak grows: 1, 1, 3, 3
      {"al", 1, 10ms, 0},                             //
      {"bo", 2, 20ms, 2},                             // bo's streak goes on beside it
      {"al", 3, 30ms, 2},                             //
      {"al", 3, 40ms, 0, "", "", true},               // the end of it
      {"al", 2, 50ms, 2},                             // a new streak from zero
      {"al", 1, 60ms, 1},                             // lower: a new streak has begun
      {"al", 1, 60ms, 1, "", "", false, {}, "Lion"},  // another gift is another streak
      {"al", 4, 30'060ms, 4},                         // 30 s after the last event: a new streak
      {"al", 1, 30'080ms, 1, "", "", false, 5},       // a gift that never streaks, and ends its own
      {"al", 6, 30'090ms, 6},                         // it ended the streak: 6 from zero
      {"", 3, 30'100ms, 3, "g1"},                     // a streak id without a viewer
      {"", 3, 30'110ms, 0, "g1"},                     //
      {"cy", 1, 30'130ms, 1, "", "m1"},               // an event seen before is none, whatever it says
      {"cy", 2, 30'140ms, 0, "", "m1"},               //
      // A group's total is its highest count, whatever order its frames come in.
      {"dy", 1, 30'150ms, 1, "g3"},            //
      {"dy", 3, 30'151ms, 3, "g4"},            // the highest first
      {"dy", 3, 30'152ms, 2, "g3"},            //
      {"dy", 2, 30'153ms, 0, "g3"},            // late
      {"dy", 1, 30'154ms, 0, "g4"},            //
      {"dy", 2, 30'154ms, 0, "g4"},            // 3, 1, 2
      {"dy", 3, 30'155ms, 0, "g3", "", true},  //
      {"dy", 3, 30'156ms, 0, "g3", "", true},  // again
      {"dy", 2, 60'000ms, 0, "g3"},            // after its end, for 30 s
      {"dy", 5, 60'001ms, 5, "g3"},            // higher than its end: it began again
      {"dy", 2, 60'200ms, 2, "g4"},            // 30 s idle: a new one
      {"", {}, 630'131ms, 1, "", "m1"},        // until 10 minutes have passed
  };
  for (const auto& e : events) {
    LiveEvent event{e.name, e.count, e.viewer, "", e.streak, e.end, e.type, e.id, {}};
    const auto counted = counter.count(event, t0 + e.at);
    EXPECT_EQ(std::make_pair(counted.gifts, counted.alreadyCounted), std::make_pair(e.gifts, e.gifts == 0))
        << e.viewer << " " << (e.count ? *e.count : -1) << " at " << e.at.count();
  }
}

TEST(GiftCounter, WhatNothingIsRememberedOfCountsItsEndsAndLoneFramesOnly) {
  const LiveEvent events[] = {{"X"},
                              {"X", 7},
                              {"X", 7, "al"},
                              {"X", 7, "", "", "g"},
                              {"X", 7, "al", "", "g", true},
                              {"X", 2, "al", "", "", false, 2}};
  std::vector<int> counted;
  for (const auto& event : events) counted.push_back(gifts::GiftCounter::giftsUnremembered(event));
  EXPECT_EQ(counted, (std::vector<int>{1, 7, 0, 0, 7, 2}));
}

TEST(GiftCounter, AFloodOfViewersOrIdsKeepsTheLatest) {
  gifts::GiftCounter counter;
  const auto t0 = gifts::GiftCounter::Clock::now();
  const auto count = [&](const std::string& viewer, int n, const std::string& id, std::chrono::milliseconds at) {
    return counter.count(LiveEvent{"Rose", n, viewer, "", "", false, {}, id, {}}, t0 + at).gifts;
  };
  EXPECT_EQ(count("first", 2, "", 0ms), 2);
  for (std::size_t i = 0; i < gifts::GiftCounter::maxStreaks; ++i) count("v" + std::to_string(i), 1, "", 1ms);
  EXPECT_EQ(count("v9999", 2, "", 2ms), 1);  // the latest are still counted on
  EXPECT_EQ(count("first", 2, "", 2ms), 2);  // the oldest went first
  EXPECT_EQ(count("x", 1, "id0", 3ms), 1);
  for (std::size_t i = 1; i <= gifts::GiftCounter::maxIds; ++i) count("y", 1, "id" + std::to_string(i), 3ms);
  EXPECT_EQ(count("z", 1, "id" + std::to_string(gifts::GiftCounter::maxIds), 4ms), 0);
  EXPECT_EQ(count("z2", 1, "id0", 4ms), 1);
}

TEST(Cooldowns, AGiftWithACooldownRunsOnceInItsSpanEvenWhenTheClockHasJustBegun) {
  gifts::Cooldowns cooldowns;
  // A steady clock counts from the machine's start: the program may run its
  // first gift within a cooldown of it.
  const gifts::Cooldowns::Clock::time_point boot{};
  const std::pair<std::chrono::milliseconds, int> admitted[] = {{1ms, 1}, {2ms, 0}, {3'000ms, 0}, {5'001ms, 1}};
  for (const auto& [at, runs] : admitted) EXPECT_EQ(cooldowns.admit("Rose", 5s, 3, boot + at), runs) << at.count();
  EXPECT_EQ(cooldowns.admit("Lion", 0ms, 3, boot + 1ms), 3);
  EXPECT_EQ(cooldowns.runs("Rose"), 2u);
}

}  // namespace
