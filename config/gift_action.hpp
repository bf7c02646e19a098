#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config {

// What a gift does, from its action word (exact, lower case), decided once
// when the gift is read.
enum class ActionKind { Key, Webhook, Sound, Unknown };
inline ActionKind actionKind(const std::string& word) {
  if (word == "key") return ActionKind::Key;
  if (word == "webhook") return ActionKind::Webhook;
  if (word == "sound") return ActionKind::Sound;
  return ActionKind::Unknown;
}

// How a gift's sound goes with the gift's own sounds still playing: over
// them, after them (each waiting its turn), in place of them, or not at all.
enum class SoundMode { Overlap, Queue, Replace, Skip };
inline constexpr const char* soundModeWords[] = {"overlap", "queue", "replace", "skip"};
inline const char* soundModeWord(SoundMode mode) { return soundModeWords[static_cast<int>(mode)]; }

// What a rule shows on the stream's alerts overlay each time it runs: its
// text with {viewer}, {gift}, {count} and {coins} filled in, and an image
// of the "images" folder beside the file.
struct Alert {
  std::string text = "{viewer} : {gift} x{count}";
  std::string image = {};  // "images/lion.gif"; empty for none
  std::chrono::seconds seconds{5};
};

// What one configured gift does when it arrives.
struct GiftAction {
  std::string action;       // "key", "webhook" or "sound"; other words are refused on arrival
  std::string target;       // the key to press, or the address to call
  std::string sound;        // MP3, WAV or OGG to play first; empty for none
  std::int32_t volume = 0;  // percent; the file's default is 100
  // For "key" gifts: how long the key stays down, how many times it is
  // pressed. For every gift: how long after it ran it does nothing (0: never).
  std::chrono::milliseconds hold{50};
  int repeat = 1;
  std::chrono::milliseconds cooldown{0};
  // For "key" gifts: the window its keys may go to, named by a part of its
  // program's file name or title (any case); empty for any window. The
  // gift's own "window", or else the file's.
  std::string window = {};
  bool windowOfFile = false;  // the rule is the file's, for every key gift
  SoundMode soundMode = SoundMode::Overlap;
  std::chrono::seconds soundSeconds{10};  // how long the sound may play
  ActionKind kind = actionKind(action);
  std::optional<Alert> alert = std::nullopt;
};

// What a gift's address may have filled in when it runs: the number of
// gifts, the viewer, the gift's name.
inline constexpr std::string_view urlPlaceholders[] = {"{count}", "{viewer}", "{gift}"};

// Where in an address a placeholder stands that a viewer could steer the
// call with: in the host part (another server) or in the path ("..").
// Placeholders belong to the query alone, after the '?' and before any '#'.
struct MisplacedPlaceholder {
  std::string_view placeholder;
  const char* where;  // "le nom du serveur", "le chemin", "la fin apres #"
};
std::optional<MisplacedPlaceholder> misplacedPlaceholder(std::string_view url);

// Gift name (exact bytes, case-sensitive) to its settings.
using GiftTable = std::map<std::string, GiftAction>;

// The likes of the stream: a run each time their total reaches a new
// multiple of `every`.
struct LikesRule {
  GiftAction action;
  std::int64_t every = 1;
};

// A chat command ("!saut"): `viewerCooldown` holds back a second run from
// the same viewer, the action's own cooldown holds back everyone's.
struct ChatCommand {
  GiftAction action;
  std::chrono::milliseconds viewerCooldown{0};
};

// What a gift that no rule of the file names runs when its value, in
// coins, reaches `minCoins`.
struct GiftTier {
  std::int64_t minCoins = 1;
  GiftAction action;
};

// The file's "events": what the live's events other than named gifts run.
// An event without a rule runs nothing.
struct EventTable {
  std::optional<GiftAction> follow, share, subscribe, join;
  std::optional<LikesRule> likes;
  std::map<std::string, ChatCommand> chat;  // the command as the file writes it
  std::vector<GiftTier> giftTiers;          // in the file's order
};

// What a goal of the stream counts, since the session began.
enum class GoalCounts { Coins, Likes, Follows, Gift };

// A bar on the goal overlay ("1000 pieces : je joue sans les mains"), and
// what reaching it runs, once a session.
struct Goal {
  std::string name;
  GoalCounts counts = GoalCounts::Coins;
  std::string gift = {};  // the gift counted, for GoalCounts::Gift
  std::int64_t target = 1;
  std::optional<GiftAction> reached = std::nullopt;
};

}  // namespace config
