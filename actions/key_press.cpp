#include "actions/key_press.hpp"

#include <array>
#include <string>

#include "common/console.hpp"
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

}  // namespace

std::optional<Key> parseKeyTarget(std::string_view target) {
  if (target.size() == 1) {
    const char c = lower(target[0]);
    if (c >= 'a' && c <= 'z') return platform::keyAfter(Key::A, c - 'a');
    if (c >= '0' && c <= '9') return platform::keyAfter(Key::Digit0, c - '0');
    return std::nullopt;
  }
  const std::string name = lowered(target);
  for (const auto& named : namedKeys) {
    if (named.name == name) return named.key;
  }
  if (const auto n = numberAfter(name, "numpad"); n && *n <= 9) return platform::keyAfter(Key::Numpad0, *n);
  if (const auto n = numberAfter(name, "f"); n && *n >= 1 && *n <= 24) return platform::keyAfter(Key::F1, *n - 1);
  return std::nullopt;
}

KeyOutcome pressKey(const std::string& target) {
  const auto key = parseKeyTarget(target);
  const platform::KeyResult press = key ? platform::pressKeys(std::span(&*key, 1), keyHold)
                                        : platform::KeyResult{platform::KeyResult::Outcome::NoSuchKey, {}};
  switch (press.outcome) {
    case platform::KeyResult::Outcome::Pressed:
      console::printLine("Touche '" + target + "' pressee");
      return KeyOutcome::Pressed;
    case platform::KeyResult::Outcome::NoSuchKey:
      console::printLine("Touche non supportee: " + target);
      return KeyOutcome::Unsupported;
    case platform::KeyResult::Outcome::Failed:
      break;
  }
  console::printLine("Touche non pressee: " + target + " (" + press.reason + ")");
  return KeyOutcome::Failed;
}

}  // namespace actions
