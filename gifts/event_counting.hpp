#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/thread_safety.hpp"
#include "gifts/gift_counter.hpp"

namespace gifts {

// The stream's likes, as relays tell them: each event's own (likeCount), the
// stream's total so far (totalLikeCount), or both. The first total heard is
// where counting starts: likes given before the program started run nothing,
// so a restart in the middle of a stream does not fire every step it missed.
// A total that goes down or repeats (events overtaking each other) adds
// nothing. Without totals the events' own likes are added up from zero.
class LikeCounter {
 public:
  struct Heard {
    std::int64_t added = 0;  // likes this event adds
    std::int64_t total = 0;  // the stream's total as now known
    int steps = 0;           // new multiples of `every` the total reached
  };
  // `every`: the rule's step; 0 when no rule counts them.
  Heard heard(std::optional<std::int64_t> total, std::optional<std::int64_t> likes, std::int64_t every);

 private:
  Mutex mutex_;
  std::optional<std::int64_t> lastTotal_ GUARDED_BY(mutex_);
  std::int64_t sum_ GUARDED_BY(mutex_) = 0;
};

// Keys (a viewer and what they did) and when each was last noted, for the
// rules that run once per viewer or hold a viewer back for a while. At most
// `kept` are remembered, the oldest noted going first, as digests.
class ViewerMemory {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kept = 100'000;

  // True, and the key noted at `now`, unless it was noted before: ever when
  // `within` is empty, else less than `within` before `now`.
  bool firstTime(std::initializer_list<const std::string*> key, Clock::time_point now,
                 std::optional<std::chrono::milliseconds> within = std::nullopt);

 private:
  Mutex mutex_;
  std::unordered_map<Digest, Clock::time_point, DigestHash> noted_ GUARDED_BY(mutex_);
  std::deque<Digest> order_ GUARDED_BY(mutex_);
};

// A chat message's text for matching commands: lower case, accents gone
// ("É" and "é" are "e"), other bytes as they are.
std::string foldedText(std::string_view text);

// True when the message holds the command as a word of its own, whatever the
// case and the accents: "je veux un !SAUT stp" holds "!saut", "!sauter" does
// not.
bool holdsCommand(std::string_view message, std::string_view command);

}  // namespace gifts
