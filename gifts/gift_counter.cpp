#include "gifts/gift_counter.hpp"

#include <openssl/sha.h>

#include <algorithm>

#include "common/thread_safety.hpp"

namespace gifts {

Digest digestOf(std::initializer_list<const std::string*> parts) {
  // Names are texts of any bytes: lengths keep "a" + "bc" apart from "ab" + "c".
  std::string joined;
  for (const std::string* part : parts) joined += std::to_string(part->size()) + ':' + *part;
  Digest digest;
  SHA256(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), digest.data());
  return digest;
}

namespace {

bool neverStreaks(const LiveEvent& event) { return event.giftType && *event.giftType != 1; }
bool endsStreak(const LiveEvent& event) { return event.streakEnd || neverStreaks(event); }

}  // namespace

int GiftCounter::giftsUnremembered(const LiveEvent& event) {
  if (!event.count) return 1;
  if ((event.viewer.empty() && event.streak.empty()) || endsStreak(event)) return *event.count;
  return 0;
}

GiftCounter::Counted GiftCounter::count(const LiveEvent& event, Clock::time_point now) {
  const Digest id = event.messageId.empty() ? Digest{} : digestOf({&event.messageId});
  const bool grouped = !event.streak.empty();
  const Digest key = digestOf({&event.viewer, &event.name, &event.streak});
  MutexLock lock(mutex_);
  if (!event.messageId.empty() && seenBefore(id, now)) return {0, true, 0};
  if (!event.count) return {1, false, 1};
  const int count = *event.count;
  if (event.viewer.empty() && !grouped) return {count, false, count};

  const auto found = streaks_.find(key);
  const bool lives = found != streaks_.end() && now - found->second.last < streakTimeout;
  if (neverStreaks(event)) {
    if (found != streaks_.end()) streaks_.erase(found);
    return {count, false, count};
  }
  // A group whose end came, and whose count goes past it: it began again.
  const bool restarts = lives && found->second.ended && count > found->second.total;
  const int before = lives && !restarts ? found->second.total : 0;
  int gifts = count > before ? count - before : count == before ? 0 : count;
  int total = count;
  if (grouped) {
    // The highest count seen: a frame that comes late adds nothing.
    gifts = std::max(count - before, 0);
    total = std::max(count, before);
  }
  if (event.streakEnd && !grouped) {
    if (found != streaks_.end()) streaks_.erase(found);
  } else {
    const Streak streak{total, now, event.streakEnd || (lives && found->second.ended && !restarts)};
    if (found != streaks_.end()) {
      found->second = streak;
    } else {
      remember(key, streak, now);
    }
  }
  return {gifts, gifts == 0, total};
}

void GiftCounter::remember(const Digest& key, Streak streak, Clock::time_point now) {
  if (streaks_.size() >= maxStreaks) forgetOldStreaks(now);
  streaks_.emplace(key, streak);
}

bool GiftCounter::seenBefore(const Digest& id, Clock::time_point now) {
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
    const auto oldest = std::ranges::min_element(streaks_, {}, [](const auto& entry) { return entry.second.last; });
    streaks_.erase(oldest);
  }
}

}  // namespace gifts
