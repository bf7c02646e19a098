#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace config {

// The members of a gift that the control page edits: "action", "target",
// "sound", "volume", "soundMode", "soundSeconds", "hold", "repeat",
// "cooldown", "window", "alert". A null member, or an empty "sound", is removed from
// the gift; any other member of the page's is ignored.
inline constexpr const char* editedMembers[] = {"action", "target", "sound",    "volume", "soundMode", "soundSeconds",
                                                "hold",   "repeat", "cooldown", "window", "alert"};

// The configuration file's text with the gift `original` (empty: none, a new
// gift) turned into `name` with the page's `members`: every other member of
// the file and of the gift is kept, in its place. Fails, saying why, when the
// text is not a JSON object or another gift is already called `name`.
Result<std::string> withGift(std::string_view text, const std::string& original, const std::string& name,
                             const nlohmann::json& members);

// The text with the account token `token`, in the "token" member and in
// every gift's address where the one before was the value of a query
// parameter ("...&token=OLD"); a host or a path that holds the same letters
// is left alone.
Result<std::string> withToken(std::string_view text, const std::string& token);

// The address with each query parameter's value that is `from` made `to`.
std::string withQueryValue(std::string url, std::string_view from, std::string_view to);

// The text with the secret every request of the relay must carry.
Result<std::string> withSecret(std::string_view text, const std::string& secret);

// The text with the output device sounds go to; an empty one, the system's
// default, leaves the member out.
Result<std::string> withSoundDevice(std::string_view text, const std::string& device);

// The text with one rule of its "events" made from the page's `members` as
// withGift makes a gift (with "every" for "likes", "viewerCooldown" for a
// chat command, "minCoins" for a tier), every other member kept: `rule` is
// "follow", "share", "subscribe", "join", "likes", "chat" (the command
// `original`, empty for a new one, becomes `key`) or "giftTiers" (the tier
// at index `original`, empty for a new one at the end).
Result<std::string> withEvent(std::string_view text, const std::string& rule, const std::string& original,
                              const std::string& key, const nlohmann::json& members);

// The text without that rule (`key`: the command, or the tier's index).
Result<std::string> withoutEvent(std::string_view text, const std::string& rule, const std::string& key);

// The text with the page's goals in place of the file's: a list of
// {"name", "counts", "target", "reached"}, each goal's other members kept
// when it keeps its name.
Result<std::string> withGoals(std::string_view text, const nlohmann::json& goals);

// The text with the key an overlay's address carries from another computer.
Result<std::string> withOverlayKey(std::string_view text, const std::string& key);

// The text without the gift `name`.
Result<std::string> withoutGift(std::string_view text, const std::string& name);

}  // namespace config
