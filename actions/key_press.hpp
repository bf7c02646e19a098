#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace actions {

// Single ASCII letters (either case), digits, and key names such as "space",
// "f13" or "left" (case-insensitive). Nothing for anything else.
std::optional<platform::Key> parseKeyTarget(std::string_view target);

// How long a key stays down.
inline constexpr std::chrono::milliseconds keyHold{50};

enum class KeyOutcome { Pressed, Unsupported, Failed };

// Presses and releases the key the target names, and says on the console what
// became of it.
KeyOutcome pressKey(const std::string& target);

}  // namespace actions
