#pragma once

#include <optional>
#include <string>

#include "config/gift_action.hpp"

namespace actions {

// What keeps a configured gift from working, in a few words ("touche inconnue
// \"ctlr+g\""); empty when it can work.
std::string giftProblems(const config::GiftAction& gift);

// What keeps a configured gift from working (an action word the program does
// not know, a target that names no key, a sound file that is not there), in
// one console line; nothing when it can work. Such a gift still loads, so
// that a mistake is seen at start-up rather than when a viewer sends it.
std::optional<std::string> giftWarning(const std::string& name, const config::GiftAction& gift);

}  // namespace actions
