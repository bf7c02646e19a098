#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "common/thread_safety.hpp"
#include "gifts/live_event.hpp"

namespace gifts {

// What is remembered of viewers, ids and streaks: a SHA-256 of their texts,
// of fixed size however long they came.
using Digest = std::array<unsigned char, 32>;
Digest digestOf(std::initializer_list<const std::string*> parts);
struct DigestHash {
  std::size_t operator()(const Digest& digest) const {
    std::size_t hash;
    std::memcpy(&hash, digest.data(), sizeof hash);
    return hash;
  }
};

// How many gifts an event is. A relay may send one request per gift, one per
// streak with its final count, or every event of a streak with the total so
// far (1, 2, 2, 5...); each gift counts once whichever it does.
//   - no count: one gift;
//   - a count and neither a viewer nor a streak id: that many gifts;
//   - a count with a streak id (groupId): the group's total is the highest
//     count seen in it, and the gifts are what that total grew by. Frames
//     that overtake each other (relays that forward over several
//     connections at once) add nothing when they come late, even after the
//     frame that ended the group: an ended group is remembered 30 s more;
//   - a count with a viewer and no streak id: the total so far of that
//     viewer's streak of that gift, of which the gifts are what it grew by
//     since its last event (none for a repeated event; the whole count when
//     it is lower, a new streak). Such relays must send one event at a time;
//   - a streak ends after an event that says so (repeatEnd), and 30 s after
//     its last event. A gift whose type is not 1 never streaks: its count is
//     its gifts, and it ends the streak under its name;
//   - an event whose id was already seen in the last 10 minutes is none.
// Each event is counted in one step under one lock: events served on
// different threads never both add the same gifts. Ids, viewers and streak
// ids are remembered as a digest of fixed size, however long they came.
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
  Counted count(const LiveEvent& event, Clock::time_point now);

  // What an event is when nothing is remembered of it (a gift that is not in
  // the file): its count when it stands alone or ends its streak, none for a
  // frame of a streak under way.
  static int giftsUnremembered(const LiveEvent& event);

 private:
  struct Streak {
    int total;
    Clock::time_point last;
    bool ended = false;  // a group whose end came; its late frames add nothing
  };
  bool seenBefore(const Digest& id, Clock::time_point now) REQUIRES(mutex_);
  void forgetOldStreaks(Clock::time_point now) REQUIRES(mutex_);
  void remember(const Digest& key, Streak streak, Clock::time_point now) REQUIRES(mutex_);

  Mutex mutex_;
  std::unordered_map<Digest, Streak, DigestHash> streaks_ GUARDED_BY(mutex_);
  std::unordered_set<Digest, DigestHash> ids_ GUARDED_BY(mutex_);
  std::deque<std::pair<Clock::time_point, Digest>> idsInOrder_ GUARDED_BY(mutex_);
};

}  // namespace gifts
