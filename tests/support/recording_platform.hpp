#pragma once

// The tests' own platform backend: it records every key press and sound, and
// answers as the test tells it. Nothing reaches the system.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace recording {

using Clock = std::chrono::steady_clock;
struct Press {
  std::vector<platform::Key> chord;
  Clock::time_point down, up;
};

// Back to a clean slate: no records; every key is pressed (and held its
// time), every sound plays.
void reset();
// How the keyboard answers a chord; only chords it answers Pressed are recorded.
void answerKeys(std::function<Result<platform::KeyPress>(std::span<const platform::Key>)> answer);

std::vector<Press> presses();
std::size_t soundsPlayed();

}  // namespace recording
