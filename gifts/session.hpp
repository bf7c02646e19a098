#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>

#include "common/thread_safety.hpp"
#include "config/gift_action.hpp"

namespace gifts {

// What the stream has brought since the program started, or since the
// streamer began a new session on the page.
class Session {
 public:
  // Names and viewers kept at most: made-up ones from the network cannot
  // take the memory. Past them, a new name is not kept; a new viewer takes
  // the place of the one who gave the least.
  static constexpr std::size_t maxGiftNames = 500;
  static constexpr std::size_t maxViewers = 10'000;
  static constexpr std::size_t topViewers = 5;

  // `coins`: what the gifts were worth (0 when the relay did not say).
  void gifts(const std::string& name, const std::string& viewer, int count, std::int64_t coins);
  void likes(std::int64_t added);
  void follow();
  void share();
  void subscribe();
  void reset();

  // What a goal counts so far.
  std::int64_t counted(const config::Goal& goal) const;
  // True the first time the goal is reached since the session began.
  bool reach(const std::string& goal);

  // {"coins", "likes", "follows", "shares", "subscriptions", "gifts": {name:
  // count}, "topViewers": [{"viewer", "coins"}], the most first, "last":
  // {"gift", "viewer", "count"} or null}.
  nlohmann::json figures() const;

 private:
  mutable Mutex mutex_;
  std::int64_t coins_ GUARDED_BY(mutex_) = 0;
  std::int64_t likes_ GUARDED_BY(mutex_) = 0;
  std::int64_t follows_ GUARDED_BY(mutex_) = 0;
  std::int64_t shares_ GUARDED_BY(mutex_) = 0;
  std::int64_t subscriptions_ GUARDED_BY(mutex_) = 0;
  std::map<std::string, std::int64_t> giftCounts_ GUARDED_BY(mutex_);
  std::map<std::string, std::int64_t> viewerCoins_ GUARDED_BY(mutex_);
  std::set<std::string> goalsReached_ GUARDED_BY(mutex_);
  struct LastGift {
    std::string name, viewer;
    int count = 0;
  };
  std::optional<LastGift> last_ GUARDED_BY(mutex_);
};

}  // namespace gifts
