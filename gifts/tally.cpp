#include "gifts/tally.hpp"

#include "common/thread_safety.hpp"

namespace gifts {
namespace {
std::int64_t minuteOf(Tally::Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::minutes>(at.time_since_epoch()).count();
}
}  // namespace

void Tally::arrived(int gifts, Clock::time_point now) {
  if (gifts <= 0) return;
  received_.fetch_add(static_cast<std::uint64_t>(gifts), std::memory_order_relaxed);
  const std::int64_t minute = minuteOf(now);
  MutexLock lock(mutex_);
  auto& [which, count] = minutes_[static_cast<std::size_t>(minute % 60)];
  if (which != minute) which = minute, count = 0;
  count += static_cast<std::uint32_t>(gifts);
}

void Tally::unconfigured(const std::string& name, int gifts) {
  MutexLock lock(mutex_);
  const auto found = unconfigured_.find(name);
  if (found != unconfigured_.end()) {
    found->second += static_cast<std::uint64_t>(gifts);
  } else if (unconfigured_.size() < maxUnconfigured) {
    unconfigured_.emplace(name, gifts);
  }
}

std::array<std::uint32_t, 60> Tally::perMinute(Clock::time_point now) const {
  std::array<std::uint32_t, 60> counts{};
  const std::int64_t last = minuteOf(now);
  MutexLock lock(mutex_);
  for (std::int64_t minute = last - 59; minute <= last; ++minute) {
    const auto& [which, count] = minutes_[static_cast<std::size_t>(((minute % 60) + 60) % 60)];
    if (which == minute) counts[static_cast<std::size_t>(minute - (last - 59))] = count;
  }
  return counts;
}

std::map<std::string, std::uint64_t> Tally::unconfiguredNames() const {
  MutexLock lock(mutex_);
  return unconfigured_;
}

}  // namespace gifts
