#include "recording_platform.hpp"

#include <mutex>
#include <thread>

namespace recording {
namespace {

struct State {
  std::mutex mutex;
  std::vector<Press> presses;
  std::vector<Sound> sounds;
  std::function<platform::KeyResult(std::span<const platform::Key>)> keys;
  std::function<void(const Sound&, const platform::SoundStarted&)> soundStart;
  std::function<std::string(const std::string&)> flush;
};

void setDefaults(State& s) {
  s.presses.clear();
  s.sounds.clear();
  s.keys = [](std::span<const platform::Key>) { return platform::KeyResult{}; };
  s.soundStart = [](const Sound&, const platform::SoundStarted& started) { started({}); };
  s.flush = [](const std::string&) { return std::string(); };
}

// Never destroyed: a sound may still be told after main.
State& state() {
  static State* s = [] {
    auto* fresh = new State;
    setDefaults(*fresh);
    return fresh;
  }();
  return *s;
}

template <typename T>
T copied(const T& value) {
  std::lock_guard<std::mutex> lock(state().mutex);
  return value;
}

}  // namespace

void reset() {
  std::lock_guard<std::mutex> lock(state().mutex);
  setDefaults(state());
}

void answerKeys(std::function<platform::KeyResult(std::span<const platform::Key>)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().keys = std::move(answer);
}

void answerSounds(std::function<void(const Sound&, const platform::SoundStarted&)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().soundStart = std::move(answer);
}

void answerFlush(std::function<std::string(const std::string&)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().flush = std::move(answer);
}

std::vector<Press> presses() { return copied(state().presses); }
std::vector<Sound> sounds() { return copied(state().sounds); }

}  // namespace recording

namespace platform {

void useUtf8Console() {}
void setThreadStackSize(std::size_t) {}
bool aloneOnConsole() { return false; }
std::optional<std::string> openKeyboard() { return std::nullopt; }
std::optional<std::string> openSoundOutput() { return std::nullopt; }
void releaseKeysAtExit() {}

std::string flushFileToDisk(const std::string& path) { return recording::copied(recording::state().flush)(path); }

KeyResult pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  const KeyResult press = recording::copied(recording::state().keys)(chord);
  if (press.outcome != KeyResult::Outcome::Pressed) return press;
  const auto down = recording::Clock::now();
  std::this_thread::sleep_for(hold);
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  recording::state().presses.push_back({{chord.begin(), chord.end()}, down, recording::Clock::now()});
  return press;
}

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime, SoundStarted started) {
  const recording::Sound sound{path, volume, lifetime, recording::Clock::now()};
  {
    std::lock_guard<std::mutex> lock(recording::state().mutex);
    recording::state().sounds.push_back(sound);
  }
  // Outside the lock: an answer may take its time, as real devices do.
  recording::copied(recording::state().soundStart)(sound, started);
}

}  // namespace platform
