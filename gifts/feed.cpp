#include "gifts/feed.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/json_io.hpp"
#include "common/thread_safety.hpp"

namespace gifts {

void Feed::add(FeedStep step) {
  bool wake = false;
  {
    MutexLock lock(mutex_);
    steps_.push_back(std::move(step));
    if (steps_.size() > kept) steps_.pop_front();
    ++count_;
    wake = waiting_ > 0;
  }
  // No page waits: none wakes.
  if (wake) added_.notify_all();
}

bool Feed::follow() {
  MutexLock lock(mutex_);
  if (followers_ == maxFollowers) return false;
  ++followers_;
  return true;
}

void Feed::unfollow() {
  MutexLock lock(mutex_);
  --followers_;
}

std::string Feed::next(std::uint64_t& seen, std::chrono::milliseconds gather, std::chrono::milliseconds heartbeat,
                       const std::function<bool()>& gone) {
  MutexLock lock(mutex_);
  if (seen > count_) seen = 0;  // a page left open while the program started again
  const auto end = std::chrono::steady_clock::now() + heartbeat;
  ++waiting_;
  while (count_ <= seen) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end || gone()) {
      --waiting_;
      return {};
    }
    added_.wait_until(lock, std::min(end, now + goneCheck));
  }
  --waiting_;
  // A storm of gifts goes out a few times a second, not one write per step.
  lock.unlock();
  std::this_thread::sleep_for(gather);
  lock.lock();
  const std::uint64_t first = count_ - steps_.size();
  nlohmann::json batch = nlohmann::json::array();
  for (std::uint64_t i = std::max(seen, first); i < count_; ++i) {
    const FeedStep& step = steps_[static_cast<std::size_t>(i - first)];
    nlohmann::json entry{{"gift", step.gift}, {"kind", step.kind}};
    if (step.gift != 0) {
      entry.update({{"time", step.time},
                    {"source", step.source == Source::Test ? "test" : "relay"},
                    {"name", step.name},
                    {"event", step.event},
                    {"line", step.line}});
      if (!step.viewer.empty()) entry["viewer"] = step.viewer;
      if (step.count >= 0) entry["count"] = step.count;
      if (!step.window.empty()) entry["window"] = step.window;
    }
    batch.push_back(std::move(entry));
  }
  seen = count_;
  lock.unlock();
  return common::jsonText(batch);
}

}  // namespace gifts
