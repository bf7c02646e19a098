#include "gifts/overlay_feed.hpp"

#include <nlohmann/json.hpp>

namespace gifts {

std::string alertText(const std::string& text, const std::string& viewer, const std::string& gift, int count,
                      std::int64_t coins) {
  const std::pair<std::string_view, std::string> fills[] = {
      {"{viewer}", viewer}, {"{gift}", gift}, {"{count}", std::to_string(count)}, {"{coins}", std::to_string(coins)}};
  std::string filled;
  // One pass: what a viewer's name holds is never filled in again.
  for (std::size_t at = 0; at < text.size();) {
    bool replaced = false;
    for (const auto& [mark, value] : fills) {
      if (text.compare(at, mark.size(), mark) == 0) {
        filled += value;
        at += mark.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) filled += text[at++];
  }
  return filled;
}

nlohmann::json overlayState(const config::LoadedConfig& config, const Session& session) {
  nlohmann::json goals = nlohmann::json::array();
  for (const config::Goal& goal : config.goals) {
    goals.push_back({{"name", goal.name}, {"count", session.counted(goal)}, {"target", goal.target}});
  }
  const nlohmann::json figures = session.figures();
  const nlohmann::json& top = figures["topViewers"];
  return {
      {"type", "state"}, {"goals", goals}, {"last", figures["last"]}, {"top", top.empty() ? nlohmann::json() : top[0]}};
}

void OverlayFeed::publish(std::string message) {
  MutexLock lock(mutex_);
  messages_.push_back(std::move(message));
  if (messages_.size() > kept) messages_.pop_front();
  ++count_;
  added_.notify_all();
}

bool OverlayFeed::followed() const {
  MutexLock lock(mutex_);
  return followers_ > 0;
}

bool OverlayFeed::follow() {
  MutexLock lock(mutex_);
  if (followers_ >= maxFollowers) return false;
  ++followers_;
  return true;
}

void OverlayFeed::unfollow() {
  MutexLock lock(mutex_);
  --followers_;
}

std::vector<std::string> OverlayFeed::next(std::uint64_t& seen, std::chrono::milliseconds wait) {
  MutexLock lock(mutex_);
  added_.wait_for(lock, wait, [&]() REQUIRES(mutex_) { return count_ > seen; });
  const std::uint64_t oldest = count_ - messages_.size();
  std::vector<std::string> found;
  for (std::uint64_t i = std::max(seen, oldest); i < count_; ++i) found.push_back(messages_[i - oldest]);
  seen = count_;
  return found;
}

std::uint64_t OverlayFeed::published() const {
  MutexLock lock(mutex_);
  return count_;
}

}  // namespace gifts
