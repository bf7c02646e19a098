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
  std::vector<MciCall> mci;
  std::function<std::int16_t(char)> keyScan;
  std::function<std::uint32_t(const std::string&)> mciAnswer;
  std::function<std::optional<std::string>(const std::string&)> fullPath;
  std::function<std::string(const std::string&)> flush;
  bool sleepForReal = true;
};

std::int16_t usLayout(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<std::int16_t>(c - 'a' + 'A');
  return -1;
}

void setDefaults(State& s) {
  s.keys.clear();
  s.mci.clear();
  s.sleepForReal = true;
  s.keyScan = usLayout;
  s.mciAnswer = [](const std::string&) { return 0u; };
  s.fullPath = [](const std::string& path) { return std::optional<std::string>("C:\\stream\\" + path); };
  s.flush = [](const std::string&) { return std::string(); };
}

// Never destroyed: the sound thread may still report after main.
State& state() {
  static State* s = [] {
    auto* fresh = new State;
    setDefaults(*fresh);
    return fresh;
  }();
  return *s;
}

}  // namespace

void skipSleeps() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().sleepForReal = false;
}

void reset() {
  std::lock_guard<std::mutex> lock(state().mutex);
  setDefaults(state());
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

void answerFlush(std::function<std::string(const std::string&)> answer) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().flush = std::move(answer);
}

std::vector<KeyEvent> keyEvents() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().keys;
}

std::vector<std::string> mciCommands() {
  std::lock_guard<std::mutex> lock(state().mutex);
  std::vector<std::string> commands;
  for (const auto& call : state().mci) commands.push_back(call.command);
  return commands;
}

namespace {
bool namesAlias(const std::string& command, const std::string& alias) {
  const auto at = command.rfind(alias);
  return at != std::string::npos && at + alias.size() == command.size() && at > 0 && command[at - 1] == ' ';
}

std::vector<MciCall> callsFor(const State& s, const std::string& alias) {
  std::vector<MciCall> calls;
  for (const auto& call : s.mci) {
    if (namesAlias(call.command, alias) || call.command.find(" " + alias + " ") != std::string::npos) {
      calls.push_back(call);
    }
  }
  return calls;
}
}  // namespace

std::vector<MciCall> mciCallsFor(const std::string& alias) {
  std::lock_guard<std::mutex> lock(state().mutex);
  return callsFor(state(), alias);
}

std::string lastOpenedAlias() {
  std::lock_guard<std::mutex> lock(state().mutex);
  for (auto it = state().mci.rbegin(); it != state().mci.rend(); ++it) {
    if (it->command.rfind("open ", 0) == 0) return it->command.substr(it->command.rfind(' ') + 1);
  }
  return {};
}

bool waitForAlias(const std::string& alias, std::size_t count, std::chrono::milliseconds timeout) {
  auto& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  return s.changed.wait_for(lock, timeout, [&] { return callsFor(s, alias).size() >= count; });
}

}  // namespace recording

namespace platform {

void useUtf8Console() {}

void setThreadStackSize(std::size_t) {}

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

void sleepMs(unsigned milliseconds) {
  bool forReal = false;
  {
    auto& s = recording::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    forReal = s.sleepForReal;
  }
  if (forReal) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint32_t mciSend(const std::string& command) {
  auto& s = recording::state();
  std::function<std::uint32_t(const std::string&)> answer;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mci.push_back({command, recording::Clock::now(), std::this_thread::get_id()});
    s.changed.notify_all();
    answer = s.mciAnswer;
  }
  // Outside the lock: an answer may take its time, as MCI does.
  return answer(command);
}

std::string mciErrorText(std::uint32_t code) {
  if (code == 999) return {};
  return "texte MCI " + std::to_string(code);
}

std::optional<std::string> fullPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  return recording::state().fullPath(path);
}

std::string flushFileToDisk(const std::string& path) {
  std::lock_guard<std::mutex> lock(recording::state().mutex);
  return recording::state().flush(path);
}

}  // namespace platform
