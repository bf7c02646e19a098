#include "gifts/cooldowns.hpp"

#include <algorithm>

#include "common/thread_safety.hpp"

namespace gifts {

int Cooldowns::admit(const std::string& gift, std::chrono::milliseconds cooldown, int wanted, Clock::time_point now) {
  if (wanted <= 0) return 0;
  MutexLock lock(mutex_);
  Runs& runs = runs_[gift];
  if (cooldown.count() > 0) {
    if (runs.count > 0 && now - runs.last < cooldown) return 0;
    wanted = 1;
  }
  runs.last = now;
  runs.count += static_cast<std::uint64_t>(wanted);
  return wanted;
}

std::uint64_t Cooldowns::runs(const std::string& gift) const {
  MutexLock lock(mutex_);
  const auto found = runs_.find(gift);
  return found == runs_.end() ? 0 : found->second.count;
}

}  // namespace gifts
