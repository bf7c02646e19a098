#pragma once

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
inline constexpr unsigned soundDeviceSeconds = 10;

// Starts the sound at the volume and returns as soon as it plays; its device
// is closed soundDeviceSeconds later. Failures are told on the console only.
void playSound(const std::string& path, std::int32_t volume);

}  // namespace actions
