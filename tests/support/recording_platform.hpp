#pragma once

// The tests' own platform backend: it records every call with its time and
// answers as the test tells it. Nothing reaches the operating system.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace recording {

using Clock = std::chrono::steady_clock;

struct KeyEvent {
  std::uint8_t virtualKey;
  std::uint8_t scan;
  std::uint32_t flags;
  Clock::time_point at;
};

struct CloseWait {
  Clock::duration wait;  // from the call to the deadline it was given
};

// Back to a clean slate: no records, US-layout key answers, and MCI that
// accepts every command.
void reset();

void answerKeyScan(std::function<std::int16_t(char)> answer);
void answerMci(std::function<std::uint32_t(const std::string&)> answer);
void answerFullPath(std::function<std::optional<std::string>(const std::string&)> answer);

std::vector<KeyEvent> keyEvents();
std::vector<std::string> mciCommands();
std::vector<CloseWait> closeWaits();

// Waits (a few seconds at most) until `count` MCI commands have been sent.
bool waitForMciCount(std::size_t count);

}  // namespace recording
