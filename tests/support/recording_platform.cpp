#include "recording_platform.hpp"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/platform.hpp"

namespace recording {
namespace {

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<KeyEvent> keys;
  std::vector<std::string> mci;
  std::vector<CloseWait> waits;
  std::function<std::int16_t(char)> keyScan;
  std::function<std::uint32_t(const std::string&)> mciAnswer;
  std::function<std::optional<std::string>(const std::string&)> fullPath;
};

// Never destroyed: detached closing threads may still report after main.
State& state() {
  static State* s = new State;
  return *s;
}

std::int16_t usLayout(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<std::int16_t>(c - 'a' + 'A');
  return -1;
}

}  // namespace

void reset() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.keys.clear();
  s.mci.clear();
  s.waits.clear();
  s.keyScan = usLayout;
  s.mciAnswer = [](const std::string&) { return 0u; };
  s.fullPath = [](const std::string& path) { return std::optional<std::string>("C:\\stream\\" + path); };
}

void answerKeyScan(std::function<std::int16_t(char)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().keyScan = std::move(answer);
}

void answerMci(std::function<std::uint32_t(const std::string&)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().mciAnswer = std::move(answer);
}

void answerFullPath(std::function<std::optional<std::string>(const std::string&)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().fullPath = std::move(answer);
}

std::vector<KeyEvent> keyEvents() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().keys;
}

std::vector<std::string> mciCommands() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().mci;
}

std::vector<CloseWait> closeWaits() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().waits;
}

bool waitForMciCount(std::size_t count) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  return s.changed.wait_for(lock, std::chrono::seconds(5), [&] { return s.mci.size() >= count; });
}

}  // namespace recording

namespace platform {

void useUtf8Console() {}

bool aloneOnConsole() { return false; }

std::int16_t keyScan(char character) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  return recording::state().keyScan(character);
}

std::uint8_t scanCode(std::uint8_t virtualKey) {
  // Not a real layout: a recognisable function of the key, so tests can tell
  // that the scan code given to the key event is the one asked for.
  return static_cast<std::uint8_t>(virtualKey ^ 0x80);
}

void keyEvent(std::uint8_t virtualKey, std::uint8_t scan, std::uint32_t flags) {
  auto& s = recording::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.keys.push_back({virtualKey, scan, flags, recording::Clock::now()});
}

void sleepMs(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void sleepUntil(std::chrono::steady_clock::time_point deadline) {
  // Recorded, not waited: a test sees the closing wait without sitting it out.
  auto& s = recording::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.waits.push_back({deadline - recording::Clock::now()});
}

std::uint32_t mciSend(const std::string& command) {
  auto& s = recording::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.mci.push_back(command);
  s.changed.notify_all();
  return s.mciAnswer(command);
}

std::string mciErrorText(std::uint32_t code) {
  if (code == 999) return {};
  return "texte MCI " + std::to_string(code);
}

std::optional<std::string> fullPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  return recording::state().fullPath(path);
}

void makeListenSocketExclusive(std::uintptr_t) {}

std::string lastSocketErrorText() { return "socket error"; }

}  // namespace platform
