#include "actions/key_press.hpp"

#include <array>
#include <string>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

struct NamedKey {
  std::string_view name;
  std::uint8_t virtualKey;
  bool extended;
};

constexpr std::array<NamedKey, 15> namedKeys{{
    {"space", 0x20, false},
    {"enter", 0x0D, false},
    {"tab", 0x09, false},
    {"escape", 0x1B, false},
    {"backspace", 0x08, false},
    {"delete", 0x2E, true},
    {"insert", 0x2D, true},
    {"home", 0x24, true},
    {"end", 0x23, true},
    {"pageup", 0x21, true},
    {"pagedown", 0x22, true},
    {"up", 0x26, true},
    {"down", 0x28, true},
    {"left", 0x25, true},
    {"right", 0x27, true},
}};

constexpr std::uint8_t vkF1 = 0x70;
constexpr std::uint8_t vkNumpad0 = 0x60;

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

std::optional<KeyChoice> parseKeyTarget(std::string_view target) {
  if (target.size() == 1) {
    const char c = target[0];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return KeyChoice{lower(c), 0, false};
    if (c >= '0' && c <= '9') return KeyChoice{0, static_cast<std::uint8_t>(c), false};
    return std::nullopt;
  }
  const std::string name = lowered(target);
  for (const auto& key : namedKeys) {
    if (key.name == name) return KeyChoice{0, key.virtualKey, key.extended};
  }
  if (const auto n = numberAfter(name, "numpad"); n && *n <= 9) {
    return KeyChoice{0, static_cast<std::uint8_t>(vkNumpad0 + *n), false};
  }
  if (const auto n = numberAfter(name, "f"); n && *n >= 1 && *n <= 24) {
    return KeyChoice{0, static_cast<std::uint8_t>(vkF1 + *n - 1), false};
  }
  return std::nullopt;
}

bool pressKey(const std::string& target) {
  const auto key = parseKeyTarget(target);
  std::uint8_t virtualKey = key ? key->virtualKey : 0;
  if (key && key->letter != 0) {
    // The layout decides which key types the letter; none may.
    const std::int16_t layout = platform::keyScan(key->letter);
    virtualKey = layout == -1 ? 0 : static_cast<std::uint8_t>(layout & 0xFF);
  }
  if (!key || virtualKey == 0 || virtualKey == 0xFF) {
    console::printLine("Touche non supportee: " + target);
    return false;
  }
  const std::uint8_t scan = platform::scanCode(virtualKey);
  const std::uint32_t flags = key->extended ? platform::keyEventExtended : 0;
  platform::keyEvent(virtualKey, scan, flags);
  platform::sleepMs(50);
  platform::keyEvent(virtualKey, scan, flags | platform::keyEventKeyUp);
  console::printLine("Touche '" + target + "' pressee");
  return true;
}

}  // namespace actions
