#pragma once

// The tests' own platform backend: it records every call with its time and
// thread, and answers as the test tells it. Nothing reaches the system.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace recording {

using Clock = std::chrono::steady_clock;

struct KeyEvent {
  std::uint8_t virtualKey;
  std::uint8_t scan;
  std::uint32_t flags;
  Clock::time_point at;
};

struct MciCall {
  std::string command;
  Clock::time_point at;
  std::thread::id thread;
};

// Back to a clean slate: no records, US-layout key answers, and MCI that
// accepts every command.
void reset();

// Sleeps return at once (until the next reset), for runs of many requests.
void skipSleeps();

void answerKeyScan(std::function<std::int16_t(char)> answer);
void answerMci(std::function<std::uint32_t(const std::string&)> answer);
void answerFullPath(std::function<std::optional<std::string>(const std::string&)> answer);
// What flushing a file to the disk answers: a reason, or empty for success.
void answerFlush(std::function<std::string(const std::string&)> answer);

std::vector<KeyEvent> keyEvents();
std::vector<std::string> mciCommands();
// The calls that name this alias (its open command included), in order.
std::vector<MciCall> mciCallsFor(const std::string& alias);
// The alias of the most recent open command, or empty.
std::string lastOpenedAlias();

// Waits until `count` MCI commands name the alias; false after `timeout`.
bool waitForAlias(const std::string& alias, std::size_t count,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace recording
