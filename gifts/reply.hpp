#pragma once

#include <optional>
#include <string>

namespace gifts {

// What became of a request, as its reply tells it.
struct Reply {
  enum class Ending {
    NoName,               // nothing named a gift
    BadJson,              // text: the JSON library's message
    BadCount,             // text: the count's field
    EmptyName,            // a gift name that is empty
    NotConfigured,        //
    OnCooldown,           //
    AlreadyCounted,       // a repeated event of a streak, or an id seen before
    KeyPressed,           //
    KeyUnsupported,       // text: the target
    KeyQueueFull,         //
    KeyFailed,            //
    KeyAboveThisProgram,  // text: the focused window
    KeyWrongWindow,       // text: the focused window; empty for none
    Called,               // text: the remote's body
    CallFailed,           // text: why
    SoundPlayed,          // a gift whose action is its sound
    SoundNotFound,        // text: the sound file of such a gift, not there; empty when it names none
    UnknownAction,        //
    Forbidden,            // the request lacks the secret
    EventNotConfigured,   // an event of a kind that no rule of the file runs
    EventAlreadyCounted,  // a follow or join of a viewer already counted, or an id seen before
    EventOnCooldown,      // a rule's cooldown, or a chat command's for its viewer
    LikesCounted,         // likes that reached no new step
    NoChatCommand,        // a chat message that holds none of the file's commands
  };
  Ending ending;
  std::string text = {};
  // The gifts the request ran, told to a relay that named a count or a
  // viewer; nothing for a plain request.
  std::optional<int> count = {};
};

// The reply's body.
std::string replyBody(const Reply& outcome);

// The HTTP status that goes with it: 403 for a refusal, 200 for every other.
int replyStatus(const Reply& outcome);

}  // namespace gifts
