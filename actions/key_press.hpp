#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace actions {

// What a key target names: a letter, whose key the keyboard layout decides,
// or a key of fixed virtual-key code (digits and named keys).
struct KeyChoice {
  char letter = 0;  // lowercase ASCII letter, or 0 for a fixed key
  std::uint8_t virtualKey = 0;
  bool extended = false;  // keys of the extended block: arrows, home, end...
};

// Single ASCII letters (either case), digits, and key names such as "space",
// "f13" or "left" (case-insensitive). Nothing for anything else.
std::optional<KeyChoice> parseKeyTarget(std::string_view target);

// Presses and releases the key, 50 ms apart. Answers false, after saying so
// on the console, when the target names no key this keyboard can press.
bool pressKey(const std::string& target);

}  // namespace actions
