#include "recording_platform.hpp"

#include <mutex>

namespace recording {
namespace {

struct State {
  std::mutex mutex;
  std::vector<Press> presses;
  std::vector<Sound> sounds;
  std::function<platform::KeyResult(std::span<const platform::Key>)> keys;
  std::function<void(const Sound&, const platform::SoundStarted&)> soundStart;
  std::function<std::string(const std::string&)> flush;
  bool holdForReal = true;
};

void setDefaults(State& s) {
  s.presses.clear();
  s.sounds.clear();
  s.holdForReal = true;
  s.keys = [](std::span<const platform::Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Pressed, {}};
  };
  s.soundStart = [](const Sound&, const platform::SoundStarted& started) {
    started({platform::SoundStart::Outcome::Playing, {}});
  };
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

}  // namespace

void reset() {
  std::lock_guard<std::mutex> lock(state().mutex);
  setDefaults(state());
}

void skipSleeps() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().holdForReal = false;
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

std::vector<Press> presses() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().presses;
}

std::vector<Sound> sounds() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().sounds;
}

}  // namespace recording

namespace platform {

void useUtf8Console() {}

void setThreadStackSize(std::size_t) {}

bool aloneOnConsole() { return false; }

std::string flushFileToDisk(const std::string& path) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  return recording::state().flush(path);
}

std::optional<std::string> openKeyboard() { return std::nullopt; }

void releaseKeysAtExit() {}

KeyResult pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  auto& s = recording::state();
  std::function<KeyResult(std::span<const Key>)> answer;
  bool holdForReal = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    answer = s.keys;
    holdForReal = s.holdForReal;
  }
  const KeyResult press = answer(chord);
  if (press.outcome != KeyResult::Outcome::Pressed) return press;
  const auto down = recording::Clock::now();
  if (holdForReal) std::this_thread::sleep_for(hold);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.presses.push_back({{chord.begin(), chord.end()}, hold, down, recording::Clock::now(), std::this_thread::get_id()});
  return press;
}

std::optional<std::string> openSoundOutput() { return std::nullopt; }

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime, SoundStarted started) {
  auto& s = recording::state();
  std::function<void(const recording::Sound&, const SoundStarted&)> answer;
  recording::Sound sound{path, volume, lifetime, recording::Clock::now()};
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sounds.push_back(sound);
    answer = s.soundStart;
  }
  // Outside the lock: an answer may take its time, as real devices do.
  answer(sound, started);
}

}  // namespace platform
