#include "endpoint/feed.hpp"

#include <algorithm>
#include <thread>

namespace endpoint {

void Feed::add(std::string step) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(std::move(step));
    if (steps_.size() > kept) steps_.pop_front();
    ++count_;
  }
  // No page open: no thread waits, none wakes.
  added_.notify_all();
}

bool Feed::follow() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (followers_ == maxFollowers) return false;
  ++followers_;
  return true;
}

void Feed::unfollow() {
  std::lock_guard<std::mutex> lock(mutex_);
  --followers_;
}

std::string Feed::next(std::uint64_t& seen, std::chrono::milliseconds gather, std::chrono::milliseconds heartbeat,
                       const std::function<bool()>& gone) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (seen > count_) seen = 0;  // a page left open while the program started again
  const auto end = std::chrono::steady_clock::now() + heartbeat;
  while (count_ <= seen) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end || gone()) return {};
    added_.wait_until(lock, std::min(end, now + goneCheck));
  }
  // A storm of gifts goes out a few times a second, not one write per step.
  lock.unlock();
  std::this_thread::sleep_for(gather);
  lock.lock();
  const std::uint64_t first = count_ - steps_.size();
  std::string batch = "[";
  for (std::uint64_t i = std::max(seen, first); i < count_; ++i) {
    if (batch.size() > 1) batch += ",";
    batch += steps_[static_cast<std::size_t>(i - first)];
  }
  seen = count_;
  return batch + "]";
}

}  // namespace endpoint
