#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace gifts {

// A request as the relay sent it, whatever its method.
struct RelayRequest {
  std::string method;  // "POST", "GET"
  std::string contentType;
  std::string body;
  std::multimap<std::string, std::string> fields;  // query and form fields, decoded
  std::optional<std::string> secretHeader = {};    // X-Webhook-Secret, when it came
};

// The secrets a request offers, wherever it put them: its X-Webhook-Secret
// header, its `secret` fields, and the `secret` member of a JSON object body
// or of the body's "data" (a forwarded event), where every field of a gift
// is read.
std::vector<std::string> offeredSecrets(const RelayRequest& request);

// The most gifts one request may stand for.
inline constexpr int maxCount = 1000;

// What happened on the live, as relays name it.
enum class EventKind { Gift, Like, Follow, Share, Subscribe, Join, Chat, Unknown };

// The kind's word in the file's "events" and in the feed: "gift", "like"...
const char* kindWord(EventKind kind);

// One event of the live as a relay forwards it.
struct LiveEvent {
  std::string name = {};
  std::optional<int> count = {};  // as the relay gave it: a total so far for a viewer's streak
  std::string viewer = {};        // the handle (uniqueId); empty when the relay names nobody
  std::string nickname = {};      // what the live shows of the viewer; may be empty
  std::string streak = {};        // groupId
  bool streakEnd = false;         // repeatEnd
  std::optional<std::int64_t> giftType = {};
  std::string messageId = {};                   // msgId
  std::optional<std::int64_t> diamonds = {};    // one gift's price in coins
  std::string text = {};                        // a chat message
  std::optional<std::int64_t> likes = {};       // of this event
  std::optional<std::int64_t> totalLikes = {};  // of the stream so far
  EventKind kind = EventKind::Gift;
  std::string kindName = {};  // the relay's word for a kind this program does not know

  // Neither a count nor a viewer: one gift, told and answered as a plain
  // request always was.
  bool plain() const { return !count && viewer.empty(); }
  // The viewer as the streamer knows them.
  const std::string& shownViewer() const { return nickname.empty() ? viewer : nickname; }
};

struct ReadFailure {
  enum class Kind {
    NoName,    // nothing names a gift, and the body is not a JSON object
    BadJson,   // a body said to be JSON that is not one, in the library's words
    BadCount,  // the count's field, named in `text`, is not a whole number from 1 to maxCount
  };
  Kind kind;
  std::string text;
};

// Reads the event a request names: from a JSON object body whatever its type
// says (its top level, or its member "data" when the top level names no
// gift), else from the query and form fields. Each value comes from the first
// of its names that is present; numbers may come as decimal strings. The kind
// is named by "event", "type", "eventType" or "eventName"; a request that
// names none, or one this program does not know beside a gift's name, is a
// gift. The fields of an event other than a gift are read from the top level,
// then from "data".
Result<LiveEvent, ReadFailure> readLiveEvent(const RelayRequest& request);

}  // namespace gifts
