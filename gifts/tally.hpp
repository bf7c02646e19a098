#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "common/thread_safety.hpp"

namespace gifts {

// How many gifts came: in all, in each minute of the last hour, and of each
// name that no gift of the file has.
class Tally {
 public:
  using Clock = std::chrono::steady_clock;
  // Names of gifts not in the file kept at most; the first ones stay.
  static constexpr std::size_t maxUnconfigured = 100;

  void arrived(int gifts, Clock::time_point now);
  void unconfigured(const std::string& name, int gifts);

  std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
  // The gifts that came in each of the 60 minutes up to `now`, the oldest
  // first.
  std::array<std::uint32_t, 60> perMinute(Clock::time_point now) const;
  std::map<std::string, std::uint64_t> unconfiguredNames() const;

 private:
  mutable Mutex mutex_;
  std::atomic<std::uint64_t> received_{0};
  // For each minute of the last hour, by its number modulo 60: which minute
  // it is, and how many gifts came in it.
  std::array<std::pair<std::int64_t, std::uint32_t>, 60> minutes_ GUARDED_BY(mutex_){};
  std::map<std::string, std::uint64_t> unconfigured_ GUARDED_BY(mutex_);
};

}  // namespace gifts
