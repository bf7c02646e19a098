#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "actions/outcome.hpp"

namespace actions {

// How long a sound plays at most, whatever its length.
inline constexpr std::chrono::milliseconds soundLifetime = std::chrono::seconds(10);

// How long after its gift a sound may still start. Starting a sound is slow
// on some systems (a quarter second under wine), and in a storm of sound
// gifts the starts queue up: a sound heard long after its gift only confuses.
inline constexpr std::chrono::milliseconds soundStartLimit = std::chrono::seconds(2);

// True when the configured path names a file (not a folder, a device or a
// named pipe).
bool soundFileExists(const std::string& path);

// Hands the sound to the system to be played at the volume, and returns at
// once: the gift's key never waits for a sound. What became of it is told
// later, from the thread that starts sounds.
void playSound(const std::string& path, std::int32_t volume, std::chrono::steady_clock::time_point arrived, Tell tell);

}  // namespace actions
