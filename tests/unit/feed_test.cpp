#include "endpoint/feed.hpp"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;

TEST(Feed, StepsGoOutInOrderOnceThereAreSomeAndOnlyTheLatestAreKept) {
  endpoint::Feed feed;
  std::uint64_t seen = 0;
  EXPECT_EQ(feed.next(seen, 0ms, 1ms), "");  // a heartbeat: nothing new
  feed.add("1");
  feed.add("2");
  EXPECT_EQ(feed.next(seen, 0ms, 1ms), "[1,2]");
  EXPECT_EQ(seen, 2u);
  auto waiting = std::async(std::launch::async, [&feed, &seen] { return feed.next(seen, 0ms, 60s); });
  feed.add("3");
  EXPECT_EQ(waiting.get(), "[3]");
  auto gone = std::async(std::launch::async, [&feed, &seen] { return feed.next(seen, 0ms, 60s, [] { return true; }); });
  EXPECT_EQ(gone.wait_for(30s), std::future_status::ready);  // a page that has gone lets go before the heartbeat
  EXPECT_EQ(gone.get(), "");
  for (int i = 4; i <= 1100; ++i) feed.add(std::to_string(i));
  const std::string kept = feed.next(seen, 0ms, 1ms);
  EXPECT_TRUE(kept.starts_with("[101,102,") && kept.ends_with(",1100]")) << kept.substr(0, 20);
  seen = 5000;  // a page that saw more than there is: the program started again
  EXPECT_TRUE(feed.next(seen, 0ms, 1ms).starts_with("[101,"));
  EXPECT_EQ(seen, 1100u);
}

}  // namespace
