#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "actions/step.hpp"
#include "common/thread_safety.hpp"
#include "config/gift_action.hpp"

namespace actions {

// How long after its gift a sound may still start, unless it waits its
// turn. In a burst of sound gifts the starts queue up: a sound heard long
// after its gift only confuses.
inline constexpr std::chrono::milliseconds soundStartLimit = std::chrono::seconds(2);
// How long a gift's key waits for its own sound to start, so that the
// console tells the sound first.
inline constexpr std::chrono::milliseconds keyWaitsForSound{20};

// True when the configured path names a file (not a folder, a device or a
// named pipe).
bool soundFileExists(const std::string& path);

// Whether a gift's sound has started yet, or will not soon.
class SoundBegun {
 public:
  // Returns once it has, or after `limit`.
  void waitFor(std::chrono::milliseconds limit);
  void done();

 private:
  Mutex mutex_;
  CondVar changed_;
  bool done_ GUARDED_BY(mutex_) = false;
};

// Hands the gift's sound to the system, by the gift's rule for its own sounds
// still playing, and returns at once. What became of it is told later, from
// the thread that starts sounds; a file that is not there is told at once,
// and answered with nothing.
std::shared_ptr<SoundBegun> playSound(const std::string& giftName, const config::GiftAction& gift,
                                      std::chrono::steady_clock::time_point arrived, Tell tell);

// Sounds go to the named output device from now on (empty: the system's
// default); the console says when they go elsewhere by themselves.
void useSoundDevice(const std::string& device);

// Opens the sound output, sounds going to the named device; when it does not
// open, the console says why, and it is tried again now and then.
void openSoundOutput(const std::string& device);

// Stops every sound now, those that wait their turn too; answers how many
// were playing.
std::size_t stopAllSounds();

}  // namespace actions
