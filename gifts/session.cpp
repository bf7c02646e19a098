#include "gifts/session.hpp"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

namespace gifts {
namespace {
// Sums a relay could push past the type's range, a request at a time.
void add(std::int64_t& sum, std::int64_t more) {
  constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
  sum = more > most - sum ? most : sum + more;
}
}  // namespace

void Session::gifts(const std::string& name, const std::string& viewer, int count, std::int64_t coins) {
  if (count <= 0) return;
  MutexLock lock(mutex_);
  add(coins_, coins);
  last_ = LastGift{name, viewer, count};
  if (auto found = giftCounts_.find(name); found != giftCounts_.end()) {
    add(found->second, count);
  } else if (giftCounts_.size() < maxGiftNames) {
    giftCounts_.emplace(name, count);
  }
  if (viewer.empty() || coins <= 0) return;
  if (auto found = viewerCoins_.find(viewer); found != viewerCoins_.end()) {
    add(found->second, coins);
    return;
  }
  if (viewerCoins_.size() >= maxViewers) {
    const auto least = std::ranges::min_element(viewerCoins_, {}, [](const auto& entry) { return entry.second; });
    if (least->second >= coins) return;
    viewerCoins_.erase(least);
  }
  viewerCoins_.emplace(viewer, coins);
}

void Session::likes(std::int64_t added) {
  MutexLock lock(mutex_);
  add(likes_, added);
}

void Session::follow() {
  MutexLock lock(mutex_);
  ++follows_;
}

void Session::share() {
  MutexLock lock(mutex_);
  ++shares_;
}

void Session::subscribe() {
  MutexLock lock(mutex_);
  ++subscriptions_;
}

void Session::reset() {
  MutexLock lock(mutex_);
  coins_ = likes_ = follows_ = shares_ = subscriptions_ = 0;
  giftCounts_.clear();
  viewerCoins_.clear();
  goalsReached_.clear();
  last_.reset();
}

std::int64_t Session::counted(const config::Goal& goal) const {
  MutexLock lock(mutex_);
  switch (goal.counts) {
    case config::GoalCounts::Coins:
      return coins_;
    case config::GoalCounts::Likes:
      return likes_;
    case config::GoalCounts::Follows:
      return follows_;
    case config::GoalCounts::Gift:
      break;
  }
  const auto found = giftCounts_.find(goal.gift);
  return found == giftCounts_.end() ? 0 : found->second;
}

bool Session::reach(const std::string& goal) {
  MutexLock lock(mutex_);
  return goalsReached_.insert(goal).second;
}

nlohmann::json Session::figures() const {
  MutexLock lock(mutex_);
  std::vector<std::pair<std::string, std::int64_t>> top(viewerCoins_.begin(), viewerCoins_.end());
  const std::size_t shown = std::min(topViewers, top.size());
  std::ranges::partial_sort(top, top.begin() + static_cast<std::ptrdiff_t>(shown),
                            [](const auto& a, const auto& b) { return a.second > b.second; });
  nlohmann::json viewers = nlohmann::json::array();
  for (std::size_t i = 0; i < shown; ++i) viewers.push_back({{"viewer", top[i].first}, {"coins", top[i].second}});
  return {{"coins", coins_},
          {"likes", likes_},
          {"follows", follows_},
          {"shares", shares_},
          {"subscriptions", subscriptions_},
          {"gifts", giftCounts_},
          {"topViewers", viewers},
          {"last", last_ ? nlohmann::json{{"gift", last_->name}, {"viewer", last_->viewer}, {"count", last_->count}}
                         : nlohmann::json()}};
}

}  // namespace gifts
