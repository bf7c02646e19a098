#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace actions {

// How long a sound plays at most, whatever its length.
inline constexpr std::chrono::milliseconds soundLifetime = std::chrono::seconds(10);

// How long a gift waits for its sound to start. Starting a sound is slow on
// some systems (a quarter second under wine), and in a storm of sound gifts
// the starts queue up: the gift's key and reply must not wait behind them.
inline constexpr std::chrono::milliseconds soundStartWait{250};

// Starts the sound at the volume and returns as soon as it plays, or after
// soundStartWait while it is still being started. What became of it is told
// on the console only.
void playSound(const std::string& path, std::int32_t volume);

}  // namespace actions
