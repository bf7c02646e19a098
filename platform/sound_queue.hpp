#pragma once

// The sounds waiting for a backend's sound thread, the same on every system:
// after a storm of sound gifts, the starts pile up behind slow opens and
// decodes, and a sound that starts long after its gift only confuses.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
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

// Queues the sound for the thread that `serve` runs, started here unless it
// runs already (`running`). Called with `lock` held; releases it. When the
// system cannot start a thread, the sound is left out and told why.
inline void queueSound(std::unique_lock<std::mutex>& lock, std::deque<PendingSound>& pending, bool& running,
                       std::condition_variable& wake, PendingSound sound, std::function<void()> serve) {
  if (!running) {
    try {
      std::thread(std::move(serve)).detach();
      running = true;
    } catch (const std::system_error& e) {
      lock.unlock();
      sound.started({SoundStart::Outcome::CannotPlay, e.what()});
      return;
    }
  }
  pending.push_back(std::move(sound));
  lock.unlock();
  wake.notify_one();
}

// Tells the sounds taken out together that they were too late.
inline void tellLate(std::vector<PendingSound>& late) {
  for (std::size_t i = 0; i < late.size(); ++i) {
    late[i].started({SoundStart::Outcome::TooLate, {}, i == 0 ? late.size() : 0});
  }
}

}  // namespace platform
