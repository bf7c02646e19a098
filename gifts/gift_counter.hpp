#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "gifts/gift_event.hpp"

namespace gifts {

// How many gifts an event is. A relay may send one request per gift, one per
// streak with its final count, or every event of a streak with the total so
// far (1, 2, 2, 5...); each gift counts once whichever it does.
//   - no count: one gift;
//   - a count and neither a viewer nor a streak id: that many gifts;
//   - a count with a viewer or a streak id: the streak's total so far, of
//     which the gifts are what it grew by since the streak's last event (none
//     for a repeated event; the whole count when it is lower, a new streak).
//     A streak ends after an event that says so (repeatEnd), after one whose
//     gift type is not 1 (such gifts never streak), and 30 s after its last
//     event;
//   - an event whose id was already seen in the last 10 minutes is none.
// The clock is the caller's.
class GiftCounter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds streakTimeout{30};
  static constexpr std::chrono::minutes idsKept{10};
  // Streaks and ids remembered at most: a flood of made-up viewers or ids
  // cannot take the memory. The oldest go first.
  static constexpr std::size_t maxStreaks = 10'000;
  static constexpr std::size_t maxIds = 100'000;

  struct Counted {
    int gifts = 0;
    bool alreadyCounted = false;  // a repeated event or id: nothing new
    int total = 0;                // the streak's total so far; the gifts when there is no streak
  };
  Counted count(const GiftEvent& event, Clock::time_point now);

 private:
  struct Streak {
    int total;
    Clock::time_point last;
  };
  bool seenBefore(const std::string& id, Clock::time_point now);
  void forgetOldStreaks(Clock::time_point now);

  std::mutex mutex_;
  std::unordered_map<std::string, Streak> streaks_;
  std::unordered_set<std::string> ids_;
  std::deque<std::pair<Clock::time_point, std::string>> idsInOrder_;
};

}  // namespace gifts
