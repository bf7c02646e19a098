#include "gifts/gift_counter.hpp"

namespace gifts {

GiftCounter::Counted GiftCounter::count(const GiftEvent& event, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!event.messageId.empty() && seenBefore(event.messageId, now)) return {0, true, 0};
  if (!event.count) return {1, false, 1};
  const int count = *event.count;
  if (event.viewer.empty() && event.streak.empty()) return {count, false, count};

  // Names are texts of any bytes: lengths keep "a" + "bc" apart from "ab" + "c".
  std::string key;
  for (const std::string* part : {&event.viewer, &event.name, &event.streak}) {
    key += std::to_string(part->size()) + ':' + *part;
  }
  const auto found = streaks_.find(key);
  const int before = found != streaks_.end() && now - found->second.last < streakTimeout ? found->second.total : 0;
  const int gifts = count > before ? count - before : count == before ? 0 : count;
  const bool ends = event.streakEnd || (event.giftType && *event.giftType != 1);
  if (ends) {
    if (found != streaks_.end()) streaks_.erase(found);
  } else if (found != streaks_.end()) {
    found->second = {count, now};
  } else {
    if (streaks_.size() >= maxStreaks) forgetOldStreaks(now);
    streaks_.emplace(std::move(key), Streak{count, now});
  }
  return {gifts, gifts == 0, count};
}

bool GiftCounter::seenBefore(const std::string& id, Clock::time_point now) {
  while (!idsInOrder_.empty() && (now - idsInOrder_.front().first > idsKept || idsInOrder_.size() >= maxIds)) {
    ids_.erase(idsInOrder_.front().second);
    idsInOrder_.pop_front();
  }
  if (!ids_.insert(id).second) return true;
  idsInOrder_.emplace_back(now, id);
  return false;
}

void GiftCounter::forgetOldStreaks(Clock::time_point now) {
  std::erase_if(streaks_, [now](const auto& entry) { return now - entry.second.last > streakTimeout; });
  // All still under way: the one that waited longest goes.
  if (streaks_.size() >= maxStreaks) {
    auto oldest = streaks_.begin();
    for (auto it = streaks_.begin(); it != streaks_.end(); ++it) {
      if (it->second.last < oldest->second.last) oldest = it;
    }
    streaks_.erase(oldest);
  }
}

}  // namespace gifts
