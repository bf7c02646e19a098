#include "recording_platform.hpp"

#include <algorithm>
#include <mutex>
#include <thread>

namespace recording {
namespace {

struct State {
  std::mutex mutex;
  std::vector<Press> presses;
  std::size_t sounds = 0;
  bool holdSounds = false;
  std::vector<platform::SoundTold> held;
  std::function<Result<platform::KeyPress>(std::span<const platform::Key>)> keys;
  std::vector<Press> down;  // pressed, not yet released
  std::optional<platform::FocusedWindow> focus;
  std::vector<platform::Key> streamer;
  int refusedReleases = 0;
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
  set(state().down, {});
  set(state().focus, {});
  set(state().streamer, {});
  set(state().refusedReleases, 0);
  set<std::size_t>(state().sounds, 0);
  set(state().holdSounds, false);
  set(state().held, {});
  answerKeys([](std::span<const platform::Key>) { return platform::KeyPress::Pressed; });
}
void answerKeys(std::function<Result<platform::KeyPress>(std::span<const platform::Key>)> f) { set(state().keys, f); }
void focusOn(std::optional<platform::FocusedWindow> window) { set(state().focus, std::move(window)); }
void streamerHolds(std::vector<platform::Key> keys) { set(state().streamer, std::move(keys)); }
void refuseReleases(int count) { set(state().refusedReleases, count); }
void holdSounds() { set(state().holdSounds, true); }
std::size_t startHeldSounds() {
  std::vector<platform::SoundTold> held;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    held = std::exchange(state().held, {});
  }
  for (const auto& told : held) told({});
  return held.size();
}
std::vector<Press> presses() { return locked(state().presses); }
std::size_t soundsPlayed() { return locked(state().sounds); }

}  // namespace recording

namespace platform {

void useUtf8Console() {}
void setThreadStackSize(std::size_t) {}
bool aloneOnConsole() { return false; }
Result<> openKeyboard() { return {}; }
Result<> openSoundOutput() { return {}; }
std::string soundOutputProblem() { return {}; }
void releaseKeysAtExit() {}
void openInBrowser(const std::string&) {}
// The tests apply a changed file themselves.
Result<> watchFolder(const std::string&, std::function<void(const std::string&)>) { return {}; }

Result<KeyPress> keysDown(std::span<const Key> keys) {
  const Result<KeyPress> press = recording::locked(recording::state().keys)(keys);
  if (!press || *press != KeyPress::Pressed) return press;
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  recording::state().down.push_back({{keys.begin(), keys.end()}, recording::Clock::now(), {}});
  return press;
}

Result<> keysUp(std::span<const Key> keys) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  auto& s = recording::state();
  if (s.refusedReleases > 0) {
    --s.refusedReleases;
    return Failure{"relachement refuse"};
  }
  const auto at =
      std::ranges::find_if(s.down, [&](const recording::Press& p) { return std::ranges::equal(p.chord, keys); });
  if (at == s.down.end()) return {};
  at->up = recording::Clock::now();
  s.presses.push_back(*at);
  s.down.erase(at);
  return {};
}

std::vector<Key> heldByStreamer(std::span<const Key> keys) {
  std::vector<Key> held;
  for (const Key key : recording::locked(recording::state().streamer)) {
    if (std::ranges::find(keys, key) != keys.end()) held.push_back(key);
  }
  return held;
}

std::optional<FocusedWindow> focusedWindow() { return recording::locked(recording::state().focus); }

std::vector<std::string> soundDevices() { return {}; }
void useSoundDevice(const std::string&, SoundDeviceChanged) {}
Result<> playTone(const std::string&) { return {}; }

SoundId playSound(const std::string&, std::int32_t, std::chrono::milliseconds, std::chrono::steady_clock::time_point,
                  SoundTold told) {
  SoundId id = 0;
  {
    std::lock_guard<std::mutex> lock(recording::state().mutex);
    id = ++recording::state().sounds;
    if (recording::state().holdSounds) {
      recording::state().held.push_back(std::move(told));
      return id;
    }
  }
  told({});
  return id;
}

void stopSound(SoundId) {}

}  // namespace platform
