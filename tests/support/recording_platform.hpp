#pragma once

// The tests' own platform backend: it records every key press and sound with
// its time and thread, and answers as the test tells it. Nothing reaches the
// system.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

namespace recording {

using Clock = std::chrono::steady_clock;

struct Press {
  std::vector<platform::Key> chord;
  std::chrono::milliseconds hold;
  Clock::time_point down, up;
  std::thread::id thread;
};

struct Sound {
  std::string path;
  std::int32_t volume;
  std::chrono::milliseconds lifetime;
  Clock::time_point at;
};

// Back to a clean slate: no records, every key pressed, every sound played.
void reset();

// Keys are held for no time at all (until the next reset), for runs of many
// requests.
void skipSleeps();

// How the keyboard answers a chord; only chords it answers Pressed are
// recorded.
void answerKeys(std::function<platform::KeyResult(std::span<const platform::Key>)> answer);
// How a sound starts: the answer is given the sound and what to tell, and
// tells it when and from where it likes.
void answerSounds(std::function<void(const Sound&, const platform::SoundStarted&)> answer);
// What flushing a file to the disk answers: a reason, or empty for success.
void answerFlush(std::function<std::string(const std::string&)> answer);

std::vector<Press> presses();
std::vector<Sound> sounds();

}  // namespace recording
