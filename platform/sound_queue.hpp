#pragma once

// The sounds waiting for a backend's sound thread, the same on every system:
// after a storm of sound gifts, the starts pile up behind slow opens and
// decodes, and a sound that starts long after its gift only confuses.

#include <algorithm>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

struct PendingSound {
  std::string path;
  std::int32_t volume;
  std::chrono::milliseconds lifetime;
  std::chrono::steady_clock::time_point startBy;
  SoundStarted started;
};

// Takes out of the queue every sound that can no longer start by its time.
inline std::vector<PendingSound> takeLate(std::deque<PendingSound>& pending,
                                          std::chrono::steady_clock::time_point now) {
  std::vector<PendingSound> late;
  const auto kept = std::stable_partition(pending.begin(), pending.end(),
                                          [now](const PendingSound& sound) { return sound.startBy >= now; });
  std::move(kept, pending.end(), std::back_inserter(late));
  pending.erase(kept, pending.end());
  return late;
}

// Tells the sounds taken out together that they were too late.
inline void tellLate(std::vector<PendingSound>& late) {
  for (std::size_t i = 0; i < late.size(); ++i) {
    late[i].started({SoundStart::Outcome::TooLate, {}, i == 0 ? late.size() : 0});
  }
}

}  // namespace platform
