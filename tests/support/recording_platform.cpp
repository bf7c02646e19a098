#include "recording_platform.hpp"

#include <mutex>
#include <thread>

namespace recording {
namespace {

struct State {
  std::mutex mutex;
  std::vector<Press> presses;
  std::size_t sounds = 0;
  std::function<Result<platform::KeyPress>(std::span<const platform::Key>)> keys;
};

State& state() {
  static State s;
  return s;
}

template <typename T>
T locked(const T& value) {
  std::lock_guard<std::mutex> lock(state().mutex);
  return value;
}

template <typename T>
void set(T& slot, T value) {
  std::lock_guard<std::mutex> lock(state().mutex);
  slot = std::move(value);
}

const bool ready = (reset(), true);

}  // namespace

void reset() {
  set(state().presses, {});
  set<std::size_t>(state().sounds, 0);
  answerKeys([](std::span<const platform::Key>) { return platform::KeyPress::Pressed; });
}
void answerKeys(std::function<Result<platform::KeyPress>(std::span<const platform::Key>)> f) { set(state().keys, f); }
std::vector<Press> presses() { return locked(state().presses); }
std::size_t soundsPlayed() { return locked(state().sounds); }

}  // namespace recording

namespace platform {

void useUtf8Console() {}
void setThreadStackSize(std::size_t) {}
bool aloneOnConsole() { return false; }
Result<> openKeyboard() { return {}; }
Result<> openSoundOutput() { return {}; }
void releaseKeysAtExit() {}
void openInBrowser(const std::string&) {}
// The tests apply a changed file themselves.
Result<> watchFolder(const std::string&, std::function<void(const std::string&)>) { return {}; }

Result<KeyPress> pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  const Result<KeyPress> press = recording::locked(recording::state().keys)(chord);
  if (!press || *press != KeyPress::Pressed) return press;
  const auto down = recording::Clock::now();
  std::this_thread::sleep_for(hold);
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  recording::state().presses.push_back({{chord.begin(), chord.end()}, down, recording::Clock::now()});
  return press;
}

void playSound(const std::string&, std::int32_t, std::chrono::milliseconds, std::chrono::steady_clock::time_point,
               SoundStarted started) {
  {
    std::lock_guard<std::mutex> lock(recording::state().mutex);
    ++recording::state().sounds;
  }
  started({});
}

}  // namespace platform
