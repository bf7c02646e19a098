#include "gifts/reply.hpp"

#include <nlohmann/json.hpp>

#include "common/json_io.hpp"

namespace gifts {
namespace {

using nlohmann::json;
using Ending = Reply::Ending;

// The reply's member and text; `fixed` when a plain request's reply is the
// text exactly as relays have always read it.
struct Said {
  const char* member;
  std::string text;
  const char* fixed = nullptr;
};

Said said(const Reply& o) {
  switch (o.ending) {
    case Ending::NoName:
      return {"error", "giftName parameter not found", R"({"error": "giftName parameter not found"})"};
    case Ending::BadJson:
      return {"error", o.text};
    case Ending::BadCount:
      return {"error", o.text + " must be a whole number from 1 to 1000"};
    case Ending::EmptyName:
      return {"error", "giftName not provided", R"({"error": "giftName not provided"})"};
    case Ending::NotConfigured:
      return {"message", "Gift not configured", R"({"message": "Gift not configured"})"};
    case Ending::OnCooldown:
      return {"message", "Gift on cooldown", R"({"message": "Gift on cooldown"})"};
    case Ending::AlreadyCounted:
      return {"message", "Gift already counted"};
    case Ending::KeyPressed:
      return {"message", "Key pressed successfully", R"({"message": "Key pressed successfully"})"};
    case Ending::KeyUnsupported:
      return {"error", "Key not supported: " + o.text};
    case Ending::KeyQueueFull:
      return {"error", "Key queue full", R"({"error": "Key queue full"})"};
    case Ending::KeyFailed:
      return {"error", "Keys cannot be pressed on this computer",
              R"({"error": "Keys cannot be pressed on this computer"})"};
    case Ending::KeyAboveThisProgram:
      return {"error", "Key not sent: the focused window, " + o.text +
                           ", runs as administrator; start this program as administrator too"};
    case Ending::KeyWrongWindow:
      return {"error",
              "Key not sent: the focused window is " + (o.text.empty() ? "none" : o.text) + ", not the gift's window"};
    case Ending::Called:
      return {"message", "Webhook executed successfully"};
    case Ending::CallFailed:
      return {"error", "Webhook call failed: " + o.text};
    case Ending::SoundPlayed:
      return {"message", "Sound played", R"({"message": "Sound played"})"};
    case Ending::SoundNotFound:
      return {"error", o.text.empty() ? "No sound file named for this gift" : "Sound file not found: " + o.text};
    case Ending::UnknownAction:
      return {"error", "Unknown action type", R"({"error": "Unknown action type"})"};
    case Ending::Forbidden:
      return {"error", "Forbidden", R"({"error": "Forbidden"})"};
    case Ending::EventNotConfigured:
      return {"message", "Event not configured", R"({"message": "Event not configured"})"};
    case Ending::EventAlreadyCounted:
      return {"message", "Event already counted", R"({"message": "Event already counted"})"};
    case Ending::EventOnCooldown:
      return {"message", "Event on cooldown", R"({"message": "Event on cooldown"})"};
    case Ending::LikesCounted:
      return {"message", "Likes counted", R"({"message": "Likes counted"})"};
    case Ending::NoChatCommand:
      return {"message", "No chat command", R"({"message": "No chat command"})"};
  }
  return {"error", "unknown"};
}

}  // namespace

std::string replyBody(const Reply& outcome) {
  const Said s = said(outcome);
  if (s.fixed && !outcome.count) return s.fixed;
  json reply{{s.member, s.text}};
  if (outcome.ending == Ending::Called) reply["response"] = outcome.text;
  if (outcome.count) reply["count"] = *outcome.count;
  // Replies carry remote and exception texts; a byte that is not UTF-8 is
  // replaced rather than turning the reply into an error.
  return common::jsonText(reply);
}

int replyStatus(const Reply& outcome) { return outcome.ending == Ending::Forbidden ? 403 : 200; }

}  // namespace gifts
