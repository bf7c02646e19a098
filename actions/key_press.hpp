#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/step.hpp"
#include "config/gift_action.hpp"
#include "platform/platform.hpp"

namespace actions {

using Clock = std::chrono::steady_clock;

// The keys a target names, modifiers first: a single ASCII letter (either
// case), a digit, or a key name such as "space", "f13" or "left", after any of
// the modifiers "ctrl", "shift", "alt" and "win" joined by '+' ("ctrl+shift+f1"),
// all in any case. Nothing for anything else.
std::optional<std::vector<platform::Key>> parseKeyTarget(std::string_view target);

// Two presses of one key are at least this far apart: a game reads presses
// closer than that as one.
inline constexpr std::chrono::milliseconds keyGap{30};
// How long after its gift arrived its first press may still start.
inline constexpr std::chrono::milliseconds keyQueueLimit = std::chrono::seconds(10);
// How long after its hold a key of the program's is let go at the latest.
inline constexpr std::chrono::milliseconds keyReleaseGrace = std::chrono::seconds(1);
// For the tests: the gap between presses of one key, how long after its gift
// a press may start, and the release's grace, from now on.
void setKeyPacing(std::chrono::milliseconds gap, std::chrono::milliseconds queueLimit,
                  std::chrono::milliseconds releaseGrace = keyReleaseGrace);

// The focused window as the console names it: its title and its program.
std::string windowShown(const platform::FocusedWindow& window);
// True when the gift's window rule names the window: a part of its program's
// file name, its title or its class, without regard to case.
bool windowMatches(const platform::FocusedWindow& window, std::string_view rule);

enum class KeyOutcome { Pressed, Unsupported, Failed, QueueFull, AboveThisProgram, WrongWindow };

// Presses the gift's key `repeat` times, each held `hold`, after the presses
// of the same keys that came before it (of any key, for a chord with a
// modifier); tells what became of it. Before each press, the focused window
// is looked at: one whose program runs with more rights than this one, or
// one the gift's window rule does not name, gets nothing. `focused` is the
// window the keys went to, or that had the focus instead, as the console
// names it (empty when none had the focus).
KeyOutcome pressKey(const std::string& giftName, const config::GiftAction& gift, Clock::time_point arrived,
                    const Tell& tell, std::string* focused = nullptr);

}  // namespace actions
