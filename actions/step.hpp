#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace actions {

// One thing that became of a gift. Each is told once, and both the console
// line and the page's feed are made from it.
enum class StepKind {
  Received,
  // What arrived when it is not a gift that the file names: the event, or a
  // gift that a tier of coins runs.
  Followed,
  Shared,
  Subscribed,
  Joined,
  LikesReached,  // the stream's likes reached new multiples of a rule's step
  ChatCommandHeard,
  TierGiftReceived,
  GoalReached,          // text: the goal; amount: its count; threshold: its target
  EventNotConfigured,   // text: the kind; said once a minute per kind
  EventAlreadyCounted,  // a follow or a join of a viewer already counted, or an event seen before
  ViewerOnCooldown,     // a chat command that its viewer ran a short while ago
  AlreadyCounted,       // a repeated event of a streak, or an event seen before
  NotConfigured,
  OnCooldown,
  Refused,  // the request did not carry the secret
  SoundPlaying,
  SoundNotFound,
  SoundCannotOpen,
  SoundCannotPlay,
  SoundTooLate,
  SoundSkipped,  // by its gift's rule, or with too many at once
  KeyPressed,
  KeyPressedAgain,  // the presses of a gift's count after its first
  KeyUnsupported,
  KeyFailed,
  KeyQueueFull,
  KeyAboveThisProgram,  // the focused window's program runs with more rights
  KeyWrongWindow,       // the focused window is not the one the gift names
  KeyLeftToStreamer,    // keys of the chord the streamer holds, left alone
  CallSucceeded,
  CallFailed,
  UrlWithoutScheme,
  UrlWithoutPath,
  CallException,
};

struct Step {
  StepKind kind;
  // What the step names, as the console shows it: a gift, a key target, a
  // sound file, an address (the token as ***), or a reason.
  std::string text;
  // The viewer who sent a gift; the reason a key was not pressed or a sound
  // skipped, or the window its gift names; what the status of a failed call does not say.
  std::string detail = {};
  // A volume, the status of a failed call (0: no response), how many sounds
  // came too late together or were skipped for one reason, how many gifts a request was (0: it named no
  // count), a streak's total, or how many presses followed the first.
  int number = 0;
  // The window that had the focus when a key was pressed or refused: its
  // title and program; empty when none had it.
  std::string window = {};
  // Coins a gift was worth; the stream's likes so far.
  std::int64_t amount = 0;
  // The tier of coins a gift reached; the step of likes of their rule.
  std::int64_t threshold = 0;
};

// Where an action tells what became of its part of a gift.
using Tell = std::function<void(Step)>;

// The step's console line; empty for a sound too late or skipped that
// another step counts.
std::string consoleLine(const Step& step);

// The step's kind in the feed: "key-pressed", "sound-not-found"...
const char* kindName(StepKind kind);

}  // namespace actions
