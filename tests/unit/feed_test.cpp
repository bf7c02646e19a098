#include "gifts/feed.hpp"

#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "gifts/overlay_feed.hpp"

namespace {

using namespace std::chrono_literals;

// The gift numbers of a batch.
std::vector<std::uint64_t> gifts(const std::string& batch) {
  std::vector<std::uint64_t> numbers;
  for (const auto& step : nlohmann::json::parse(batch)) numbers.push_back(step["gift"]);
  return numbers;
}

TEST(Feed, StepsGoOutInOrderOnceThereAreSomeAndOnlyTheLatestAreKept) {
  gifts::Feed feed;
  const auto step = [](std::uint64_t gift) {
    return gifts::FeedStep{gift, 1, gifts::Source::Test, "Rose", "", -1, "received", "l"};
  };
  std::uint64_t seen = 0;
  EXPECT_EQ(feed.next(seen, 0ms, 1ms), "");  // a heartbeat: nothing new
  feed.add(step(1));
  feed.add({2, 5, gifts::Source::Relay, "follow", "al", 3, "key-pressed", "Touche", {}, "follow"});
  EXPECT_EQ(
      feed.next(seen, 0ms, 1ms),
      R"([{"event":"gift","gift":1,"kind":"received","line":"l","name":"Rose","source":"test","time":1},)"
      R"({"count":3,"event":"follow","gift":2,"kind":"key-pressed","line":"Touche","name":"follow","source":"relay",)"
      R"("time":5,"viewer":"al"}])");
  EXPECT_EQ(seen, 2u);
  auto waiting = std::async(std::launch::async, [&feed, &seen] { return feed.next(seen, 0ms, 60s); });
  std::this_thread::sleep_for(50ms);  // most often, the page waits before the step comes
  feed.add(step(3));
  EXPECT_EQ(gifts(waiting.get()), std::vector<std::uint64_t>{3});
  auto gone = std::async(std::launch::async, [&feed, &seen] { return feed.next(seen, 0ms, 60s, [] { return true; }); });
  EXPECT_EQ(gone.wait_for(30s), std::future_status::ready);  // a page that has gone lets go before the heartbeat
  EXPECT_EQ(gone.get(), "");
  for (std::uint64_t i = 4; i <= 1100; ++i) feed.add(step(i));
  const auto kept = gifts(feed.next(seen, 0ms, 1ms));
  EXPECT_EQ(std::make_tuple(kept.size(), kept.front(), kept.back()), std::make_tuple(1000u, 101u, 1100u));
  seen = 5000;  // a page that saw more than there is: the program started again
  EXPECT_EQ(gifts(feed.next(seen, 0ms, 1ms)).front(), 101u);
  EXPECT_EQ(seen, 1100u);
}

}  // namespace

namespace {

TEST(OverlayFeed, AStreamGetsWhatCameAfterItAndOneFarBehindStartsAtTheOldestKept) {
  gifts::OverlayFeed feed;
  std::uint64_t seen = feed.published();
  EXPECT_TRUE(feed.next(seen, 1ms).empty());
  feed.publish("a");
  feed.publish("b");
  EXPECT_EQ(feed.next(seen, 1ms), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(seen, 2u);
  std::uint64_t behind = 0;
  for (std::size_t i = 0; i < gifts::OverlayFeed::kept + 5; ++i) feed.publish(std::to_string(i));
  const auto caught = feed.next(behind, 1ms);
  EXPECT_EQ(std::tuple(caught.size(), caught.front()), std::tuple(gifts::OverlayFeed::kept, "5"));
  for (std::size_t i = 0; i < gifts::OverlayFeed::maxFollowers; ++i) EXPECT_TRUE(feed.follow());
  EXPECT_FALSE(feed.follow());
}

TEST(OverlayFeed, AnAlertsTextIsFilledOnceAndTheGoalsCountTheSession) {
  // A viewer named after a placeholder keeps the name.
  EXPECT_EQ(gifts::alertText("{viewer} offre {gift} x{count} ({coins}) {other}", "{count}", "Lion", 3, 900),
            "{count} offre Lion x3 (900) {other}");
  gifts::Session session;
  const config::Goal coins{"c", config::GoalCounts::Coins, {}, 1000}, roses{"r", config::GoalCounts::Gift, "Rose", 2};
  session.gifts("Rose", "al", 2, 600);
  session.gifts("Lion", "bo", 1, 500);
  EXPECT_EQ(std::tuple(session.counted(coins), session.counted(roses)), std::tuple(1100, 2));
  EXPECT_TRUE(session.reach("c"));
  EXPECT_FALSE(session.reach("c"));
  config::LoadedConfig config;
  config.goals = {coins};
  const auto state = gifts::overlayState(config, session);
  EXPECT_EQ(state["goals"][0]["count"], 1100);
  EXPECT_EQ(std::tuple(state["last"]["gift"], state["top"]["viewer"]), std::tuple("Lion", "al"));
  session.reset();
  EXPECT_TRUE(session.reach("c"));  // once a session
  EXPECT_TRUE(gifts::overlayState(config, session)["last"].is_null());
}

}  // namespace
