#pragma once

// The tests' own platform backend: it records every key press and sound, and
// answers as the test tells it. Nothing reaches the system.

#include <chrono>
#include <functional>
#include <optional>
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

// The window that has the focus from now on (none at first: a gift with no
// window rule goes anywhere); the keys the streamer holds; how many of the
// next releases the system does not take.
void focusOn(std::optional<platform::FocusedWindow> window);
void streamerHolds(std::vector<platform::Key> keys);
void refuseReleases(int count);

// From now on, sounds start only when the test starts them, as a real system
// takes its time; starts those held so far, and answers how many.
void holdSounds();
std::size_t startHeldSounds();

// Presses released, in the order they were.
std::vector<Press> presses();
std::size_t soundsPlayed();

}  // namespace recording
