#include "actions/key_press.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "common/console.hpp"
#include "common/thread_safety.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

using platform::Key;

struct NamedKey {
  std::string_view name;
  Key key;
};

constexpr std::array<NamedKey, 15> namedKeys{{
    {"space", Key::Space},
    {"enter", Key::Enter},
    {"tab", Key::Tab},
    {"escape", Key::Escape},
    {"backspace", Key::Backspace},
    {"delete", Key::Delete},
    {"insert", Key::Insert},
    {"home", Key::Home},
    {"end", Key::End},
    {"pageup", Key::PageUp},
    {"pagedown", Key::PageDown},
    {"up", Key::Up},
    {"down", Key::Down},
    {"left", Key::Left},
    {"right", Key::Right},
}};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

// The number after a prefix ("f12" -> 12), when the rest is 1 or 2 digits
// without a leading zero.
std::optional<int> numberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<Key> keyNamed(const std::string& name) {
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= 'a' && c <= 'z') return platform::keyAfter(Key::A, c - 'a');
    if (c >= '0' && c <= '9') return platform::keyAfter(Key::Digit0, c - '0');
    return std::nullopt;
  }
  for (const auto& named : namedKeys) {
    if (named.name == name) return named.key;
  }
  if (const auto n = numberAfter(name, "numpad"); n && *n <= 9) return platform::keyAfter(Key::Numpad0, *n);
  if (const auto n = numberAfter(name, "f"); n && *n >= 1 && *n <= 24) return platform::keyAfter(Key::F1, *n - 1);
  return std::nullopt;
}

std::string nameOf(Key key) {
  if (key >= Key::A && key <= Key::Z) return std::string(1, static_cast<char>('a' + platform::keyOffset(key, Key::A)));
  if (key >= Key::Digit0 && key <= Key::Digit9) {
    return std::string(1, static_cast<char>('0' + platform::keyOffset(key, Key::Digit0)));
  }
  if (key >= Key::Numpad0 && key <= Key::Numpad9)
    return "numpad" + std::to_string(platform::keyOffset(key, Key::Numpad0));
  if (key >= Key::F1 && key <= Key::F24) return "f" + std::to_string(platform::keyOffset(key, Key::F1) + 1);
  for (const auto& named : namedKeys) {
    if (named.key == key) return std::string(named.name);
  }
  constexpr std::array<std::string_view, 4> modifiers{"ctrl", "shift", "alt", "win"};
  return std::string(modifiers[static_cast<std::size_t>(platform::keyOffset(key, Key::Ctrl))]);
}

std::optional<Key> modifierNamed(std::string_view name) {
  if (name == "ctrl") return Key::Ctrl;
  if (name == "shift") return Key::Shift;
  if (name == "alt") return Key::Alt;
  if (name == "win") return Key::Win;
  return std::nullopt;
}

std::atomic<std::chrono::milliseconds> gapBetweenPresses{keyGap};
std::atomic<std::chrono::milliseconds> queueLimit{keyQueueLimit};
std::atomic<std::chrono::milliseconds> releaseGrace{keyReleaseGrace};

bool isModifier(Key key) { return key == Key::Ctrl || key == Key::Shift || key == Key::Alt || key == Key::Win; }

// Presses take turns, in the order their gifts asked. A press of plain keys
// starts once every press that shares a key with it and asked before it is
// released and keyGap has passed; presses of other keys go on meanwhile. A
// chord that holds a modifier has the keyboard to itself: with other keys
// down, ctrl+shift+f1 and another gift's w would make ctrl+shift+w, and
// alt+1 with f4 would close the game. It starts once every key is up and the
// gap has passed, and nothing starts until its keys are up again. Turns are
// handed out under one lock for all keys at once, so that chords sharing a
// key never wait for each other in a circle.
class KeyTurns {
 public:
  // Waits for the chord's turn and takes it; false, having left the queue,
  // when the turn would come after `latest`.
  bool take(const std::vector<Key>& chord, Clock::time_point latest) {
    MutexLock lock(mutex_);
    const Press mine{nextTicket_++, chord, std::ranges::any_of(chord, isModifier)};
    waiting_.push_back(mine);
    for (;;) {
      const auto startAt = whenFree(mine);
      const auto now = Clock::now();
      if (startAt && *startAt <= now) {
        std::erase_if(waiting_, [&](const Press& p) { return p.ticket == mine.ticket; });
        active_.push_back(mine);
        return true;
      }
      if ((startAt && *startAt > latest) || now >= latest) {
        std::erase_if(waiting_, [&](const Press& p) { return p.ticket == mine.ticket; });
        changed_.notify_all();
        return false;
      }
      changed_.wait_until(lock, startAt ? *startAt : latest);
    }
  }

  void give(const std::vector<Key>& chord) {
    {
      MutexLock lock(mutex_);
      const auto freeAt = Clock::now() + gapBetweenPresses.load();
      const auto at = std::ranges::find_if(active_, [&](const Press& p) { return p.chord == chord; });
      if (at->exclusive) keyboardFreeAt_ = std::max(keyboardFreeAt_, freeAt);
      active_.erase(at);
      for (const Key key : chord) freeAt_[key] = freeAt;
      lastFreeAt_ = std::max(lastFreeAt_, freeAt);
    }
    changed_.notify_all();
  }

 private:
  struct Press {
    std::uint64_t ticket;
    std::vector<Key> chord;
    bool exclusive;  // it holds a modifier
  };

  static bool conflict(const Press& a, const Press& b) {
    return a.exclusive || b.exclusive || std::ranges::find_first_of(a.chord, b.chord) != a.chord.end();
  }

  // When the press may start, once nothing before it or under way stands in
  // its way; nothing while something does.
  std::optional<Clock::time_point> whenFree(const Press& press) const REQUIRES(mutex_) {
    for (const Press& other : active_) {
      if (conflict(press, other)) return std::nullopt;
    }
    for (const Press& other : waiting_) {
      if (other.ticket == press.ticket) break;
      if (conflict(press, other)) return std::nullopt;
    }
    Clock::time_point at = press.exclusive ? lastFreeAt_ : keyboardFreeAt_;
    for (const Key key : press.chord) {
      const auto free = freeAt_.find(key);
      if (free != freeAt_.end()) at = std::max(at, free->second);
    }
    return at;
  }

  Mutex mutex_;
  CondVar changed_;
  std::uint64_t nextTicket_ GUARDED_BY(mutex_) = 0;
  std::deque<Press> waiting_ GUARDED_BY(mutex_);  // in the order they asked
  std::vector<Press> active_ GUARDED_BY(mutex_);
  std::map<Key, Clock::time_point> freeAt_ GUARDED_BY(mutex_);  // each key's release, and the gap after it
  Clock::time_point lastFreeAt_ GUARDED_BY(mutex_){};           // the same for the last key released
  Clock::time_point keyboardFreeAt_ GUARDED_BY(mutex_){};       // and for the last chord with a modifier
};

KeyTurns& turns() {
  static KeyTurns* t = new KeyTurns;  // never destroyed: a press may be waiting at exit
  return *t;
}

}  // namespace

void setKeyPacing(std::chrono::milliseconds gap, std::chrono::milliseconds limit, std::chrono::milliseconds grace) {
  gapBetweenPresses = gap;
  queueLimit = limit;
  releaseGrace = grace;
}

std::string windowShown(const platform::FocusedWindow& window) {
  const std::string title = console::shown(window.title, 120);
  const std::string program = console::shown(window.program.empty() ? window.kind : window.program);
  if (title.empty()) return program.empty() ? "sans nom" : program;
  return "\"" + title + "\"" + (program.empty() ? "" : " (" + program + ")");
}

bool windowMatches(const platform::FocusedWindow& window, std::string_view rule) {
  const std::string wanted = lowered(rule);
  return std::ranges::any_of(std::array{&window.program, &window.title, &window.kind},
                             [&](const std::string* name) { return lowered(*name).find(wanted) != std::string::npos; });
}

std::optional<std::vector<Key>> parseKeyTarget(std::string_view target) {
  std::vector<Key> chord;
  const std::string name = lowered(target);
  std::size_t start = 0;
  for (std::size_t plus = name.find('+'); plus != std::string::npos; plus = name.find('+', start)) {
    const auto modifier = modifierNamed(std::string_view(name).substr(start, plus - start));
    if (!modifier || std::find(chord.begin(), chord.end(), *modifier) != chord.end()) return std::nullopt;
    chord.push_back(*modifier);
    start = plus + 1;
  }
  const auto key = keyNamed(name.substr(start));
  if (!key) return std::nullopt;
  chord.push_back(*key);
  return chord;
}

namespace {

// Where the chord would go now, when the gift may not press it there: the
// window the system would drop it for, or one that is not the gift's.
std::optional<Step> refusal(const std::string& giftTarget, const config::GiftAction& gift,
                            const std::optional<platform::FocusedWindow>& focus) {
  const std::string target = console::shown(giftTarget);
  if (focus && focus->aboveThisProgram) return Step{StepKind::KeyAboveThisProgram, target, {}, 0, windowShown(*focus)};
  if (gift.window.empty() || (focus && windowMatches(*focus, gift.window))) return std::nullopt;
  return Step{StepKind::KeyWrongWindow, target, console::shown(gift.window), 0,
              focus ? windowShown(*focus) : std::string()};
}

// One press of the chord, where it may go, leaving alone the keys the
// streamer holds: the gift neither presses them nor lets them go. Those
// the streamer takes hold of while the chord is down are let go once the
// streamer's hands do, or at the latest `releaseGrace` after the hold: no key
// of the program's stays down whatever the system or the hook may miss.
Result<platform::KeyPress> pressWhereItMayGo(const std::vector<Key>& chord, const config::GiftAction& gift, bool first,
                                             const Tell& tell, std::optional<Step>& refused, std::string& window) {
  const auto focus = platform::focusedWindow();
  if ((refused = refusal(gift.target, gift, focus))) return platform::KeyPress::Pressed;
  window = focus ? windowShown(*focus) : std::string();
  std::vector<Key> keys;
  const std::vector<Key> theirs = platform::heldByStreamer(chord);
  std::ranges::copy_if(chord, std::back_inserter(keys),
                       [&](Key k) { return std::ranges::find(theirs, k) == theirs.end(); });
  if (first && !theirs.empty()) {
    std::string names;
    for (const Key k : theirs) names += (names.empty() ? "" : "+") + nameOf(k);
    tell({StepKind::KeyLeftToStreamer, names});
  }
  if (keys.empty()) return platform::KeyPress::Pressed;
  const auto press = platform::keysDown(keys);
  if (!press || *press != platform::KeyPress::Pressed) return press;
  const auto down = Clock::now();
  std::this_thread::sleep_until(down + gift.hold);
  const auto latest = down + gift.hold + releaseGrace.load();
  constexpr auto again = std::chrono::milliseconds(20);
  while (Clock::now() + again < latest && !platform::heldByStreamer(keys).empty()) std::this_thread::sleep_for(again);
  for (;;) {
    auto up = platform::keysUp(keys);
    if (up) return press;
    if (Clock::now() + again >= latest) return up.failure();
    std::this_thread::sleep_for(again);
  }
}

}  // namespace

KeyOutcome pressKey(const std::string& giftName, const config::GiftAction& gift, Clock::time_point arrived,
                    const Tell& tell, std::string* focused) {
  const auto chord = parseKeyTarget(gift.target);
  const auto latest = arrived + queueLimit.load();
  // A target that names no key is told as a key the keyboard lacks.
  Result<platform::KeyPress> press = chord ? platform::KeyPress::Pressed : platform::KeyPress::NoSuchKey;
  std::optional<Step> refused;
  std::string window;
  for (int i = 0; chord && !refused && i < gift.repeat && press && *press == platform::KeyPress::Pressed; ++i) {
    // The limit is on the wait for the gift's first press: once started, a
    // gift's presses all happen, however long they take. (A day stands for
    // no limit: some systems' timed waits overflow on the largest time.)
    if (!turns().take(*chord, i == 0 ? latest : Clock::now() + std::chrono::hours(24))) {
      tell({StepKind::KeyQueueFull, console::shown(giftName)});
      return KeyOutcome::QueueFull;
    }
    press = pressWhereItMayGo(*chord, gift, i == 0, tell, refused, window);
    turns().give(*chord);
  }
  if (refused) {
    const bool above = refused->kind == StepKind::KeyAboveThisProgram;
    if (focused != nullptr) *focused = refused->window;
    tell(std::move(*refused));
    return above ? KeyOutcome::AboveThisProgram : KeyOutcome::WrongWindow;
  }
  if (!press) {
    tell({StepKind::KeyFailed, console::shown(gift.target), press.reason()});
    return KeyOutcome::Failed;
  }
  if (*press == platform::KeyPress::NoSuchKey) {
    tell({StepKind::KeyUnsupported, console::shown(gift.target)});
    return KeyOutcome::Unsupported;
  }
  if (focused != nullptr) *focused = window;
  tell({StepKind::KeyPressed, console::shown(gift.target), {}, 0, window});
  return KeyOutcome::Pressed;
}

}  // namespace actions
