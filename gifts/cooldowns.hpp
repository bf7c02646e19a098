#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "common/thread_safety.hpp"

namespace gifts {

// When each gift last ran, for its cooldown, and how many times it ran.
class Cooldowns {
 public:
  using Clock = std::chrono::steady_clock;
  // How many of `wanted` gifts arriving together at `now` may run, counted as
  // run: all of them without a cooldown; with one, the first unless the gift
  // ran less than `cooldown` before, and never the rest, as if they had come
  // one after the other.
  int admit(const std::string& gift, std::chrono::milliseconds cooldown, int wanted, Clock::time_point now);
  std::uint64_t runs(const std::string& gift) const;

 private:
  struct Runs {
    Clock::time_point last;
    std::uint64_t count = 0;
  };
  mutable Mutex mutex_;
  std::map<std::string, Runs> runs_ GUARDED_BY(mutex_);
};

}  // namespace gifts
