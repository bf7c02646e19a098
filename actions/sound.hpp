#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace actions {

// Each playback gets an MCI device of its own, "sound0", "sound1", ...
std::string soundAlias(std::int32_t number);
std::string mciOpenCommand(const std::string& fullPath, const std::string& alias);
// MCI's volume runs from 0 to 1000: ten times the percentage.
std::string mciVolumeCommand(const std::string& alias, std::int32_t volumePercent);
std::string mciPlayCommand(const std::string& alias);
std::string mciCloseCommand(const std::string& alias);

// How long a device plays before it is closed, whatever the sound's length.
inline constexpr std::chrono::milliseconds soundDeviceLifetime = std::chrono::seconds(10);
// For the tests: devices started from now on close after `lifetime`.
void setSoundDeviceLifetime(std::chrono::milliseconds lifetime);

// How long a gift waits for its sound to start. Opening a device is slow on
// some systems (a quarter second under wine), and in a storm of sound gifts
// the starts queue up: the gift's key and reply must not wait behind them.
inline constexpr unsigned soundStartWaitMs = 250;

// Starts the sound at the volume and returns as soon as it plays, or after
// soundStartWaitMs while it is still being started; its device is closed
// soundDeviceLifetime after it started. Failures are told on the console only.
void playSound(const std::string& path, std::int32_t volume);

}  // namespace actions
