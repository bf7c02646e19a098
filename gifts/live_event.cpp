#include "gifts/live_event.hpp"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <span>

#include "common/json_io.hpp"

namespace gifts {
namespace {

using nlohmann::json;

// A name, or a member of an object member ("gift", "name").
struct Name {
  const char* member;
  const char* inside = nullptr;
};

constexpr Name giftNames[] = {{"giftName"}, {"gift_name"}, {"name", "gift"}};
constexpr Name countNames[] = {{"repeatCount"}, {"repeat_count"}, {"count"}, {"repeat_count", "gift"}};
constexpr Name viewerNames[] = {{"uniqueId"}, {"username"}, {"userId"}, {"uniqueId", "user"}};
constexpr Name nicknameNames[] = {{"nickname"}, {"nickname", "user"}};
constexpr Name kindNames[] = {{"event"}, {"type"}, {"eventType"}, {"eventName"}};
constexpr Name priceNames[] = {{"diamondCount"}, {"coins"}, {"giftValue"}};
constexpr Name chatNames[] = {{"comment"}, {"message"}, {"text"}};

// Where the fields are read: a JSON object, or the request's fields.
class Where {
 public:
  // `fallback`: where a name absent from `object` is looked for next.
  explicit Where(const json* object, const json* fallback = nullptr) : object_(object), fallback_(fallback) {}
  explicit Where(const std::multimap<std::string, std::string>* fields) : fields_(fields) {}

  // The first of the names that is present, with the name it was found under.
  std::optional<std::pair<json, std::string>> first(std::span<const Name> names) const {
    return search(names, [](const json&) { return true; });
  }
  // The first of the names whose value is a text.
  std::optional<std::string> firstText(std::span<const Name> names) const {
    const auto found = search(names, [](const json& value) { return value.is_string(); });
    return found ? std::optional<std::string>(found->first.get<std::string>()) : std::nullopt;
  }

 private:
  // In the object, then in the fallback; in the request's fields alone.
  template <typename Wanted>
  std::optional<std::pair<json, std::string>> search(std::span<const Name> names, Wanted wanted) const {
    for (const json* in : {object_, fallback_}) {
      if (fields_ == nullptr && in == nullptr) continue;
      for (const Name& name : names) {
        if (auto value = find(name, in); value && wanted(*value)) return std::pair{std::move(*value), label(name)};
      }
      if (fields_) break;
    }
    return std::nullopt;
  }
  static std::string label(const Name& name) {
    return name.inside ? std::string(name.inside) + "." + name.member : name.member;
  }
  std::optional<json> find(const Name& name, const json* in) const {
    if (fields_) {
      if (name.inside) return std::nullopt;
      const auto found = fields_->find(name.member);
      if (found == fields_->end()) return std::nullopt;
      return json(found->second);
    }
    if (name.inside) {
      const auto outer = in->find(name.inside);
      if (outer == in->end() || !outer->is_object()) return std::nullopt;
      in = &*outer;
    }
    const auto found = in->find(name.member);
    if (found == in->end() || found->is_null()) return std::nullopt;
    return *found;
  }

  const json* object_ = nullptr;
  const json* fallback_ = nullptr;
  const std::multimap<std::string, std::string>* fields_ = nullptr;
};

// A whole number, given as a number or as decimal digits.
std::optional<std::int64_t> wholeNumber(const json& value) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (n <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(n);
    return std::nullopt;
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::trunc(d) == d && std::abs(d) < 9e15) return static_cast<std::int64_t>(d);
    return std::nullopt;
  }
  if (!value.is_string()) return std::nullopt;
  const auto& text = value.get_ref<const std::string&>();
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  std::int64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

// A text, or a number written as one (ids often come as numbers).
std::string textOf(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return value.dump();
  return {};
}

bool isTrue(const json& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_string())
    return value.get_ref<const std::string&>() == "true" || value.get_ref<const std::string&>() == "1";
  return value.is_number_integer() && value.get<std::int64_t>() == 1;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The kind a source names, if it names one.
std::optional<std::pair<EventKind, std::string>> kindOf(const Where& source) {
  const auto named = source.firstText(kindNames);
  if (!named) return std::nullopt;
  const std::string word = lowerCase(*named);
  using enum EventKind;
  static const std::pair<const char*, EventKind> words[] = {
      {"gift", Gift},   {"like", Like},           {"likes", Like},    {"follow", Follow},
      {"share", Share}, {"subscribe", Subscribe}, {"sub", Subscribe}, {"subscription", Subscribe},
      {"join", Join},   {"member", Join},         {"chat", Chat},     {"comment", Chat}};
  for (const auto& [known, kind] : words) {
    if (word == known) return std::pair{kind, word};
  }
  // One kind for follows and shares, told apart by what the live shows.
  if (word == "social") {
    const Name shown[] = {{"displayType"}};
    const std::string display = lowerCase(source.firstText(shown).value_or(""));
    if (display.find("follow") != std::string::npos) return std::pair{Follow, word};
    if (display.find("share") != std::string::npos) return std::pair{Share, word};
  }
  return std::pair{Unknown, word};
}

std::optional<std::int64_t> wholeOf(const Where& source, std::span<const Name> names, std::int64_t lowest) {
  const auto found = source.first(names);
  if (!found) return std::nullopt;
  const auto n = wholeNumber(found->first);
  return n && *n >= lowest ? n : std::nullopt;
}

// An event other than a gift: who, and what it says.
LiveEvent readOtherEvent(const Where& source, EventKind kind, const std::string& word) {
  LiveEvent event;
  event.kind = kind;
  if (kind == EventKind::Unknown) event.kindName = word.substr(0, 40);
  if (const auto viewer = source.first(viewerNames)) event.viewer = textOf(viewer->first);
  if (const auto nickname = source.first(nicknameNames)) event.nickname = textOf(nickname->first);
  const Name ids[] = {{"msgId"}};
  if (const auto id = source.first(ids)) event.messageId = textOf(id->first);
  event.text = source.firstText(chatNames).value_or("");
  const Name likes[] = {{"likeCount"}}, totals[] = {{"totalLikeCount"}};
  event.likes = wholeOf(source, likes, 0);
  event.totalLikes = wholeOf(source, totals, 0);
  return event;
}

// `name`: the first of the gift's names that is present, if any.
Result<LiveEvent, ReadFailure> readFrom(const Where& source, const std::optional<std::pair<json, std::string>>& name) {
  LiveEvent event;
  // A name that is not a text is the library's type error, as it always was.
  if (name) event.name = name->first.get<std::string>();
  if (const auto count = source.first(countNames)) {
    const auto n = wholeNumber(count->first);
    if (!n || *n < 1 || *n > maxCount) return ReadFailure{ReadFailure::Kind::BadCount, count->second};
    event.count = static_cast<int>(*n);
  }
  if (const auto viewer = source.first(viewerNames)) event.viewer = textOf(viewer->first);
  if (const auto nickname = source.first(nicknameNames)) event.nickname = textOf(nickname->first);
  const auto one = [&source](const char* member) {
    const Name names[] = {{member}};
    auto found = source.first(names);
    return found ? std::optional<json>(std::move(found->first)) : std::nullopt;
  };
  if (const auto streak = one("groupId")) event.streak = textOf(*streak);
  if (const auto end = one("repeatEnd")) event.streakEnd = isTrue(*end);
  if (const auto type = one("giftType")) event.giftType = wholeNumber(*type);
  if (const auto id = one("msgId")) event.messageId = textOf(*id);
  event.diamonds = wholeOf(source, priceNames, 0);
  return event;
}

}  // namespace

const char* kindWord(EventKind kind) {
  static constexpr const char* words[] = {"gift", "like", "follow", "share", "subscribe", "join", "chat", "unknown"};
  return words[static_cast<int>(kind)];
}

std::vector<std::string> offeredSecrets(const RelayRequest& request) {
  std::vector<std::string> offered;
  if (request.secretHeader) offered.push_back(*request.secretHeader);
  const auto [first, last] = request.fields.equal_range("secret");
  for (auto field = first; field != last; ++field) offered.push_back(field->second);
  // Most bodies name no secret: they are not read again for it.
  if (request.body.find("secret") == std::string::npos) return offered;
  const auto document = common::parsedJson(request.body);
  if (!document.is_object()) return offered;
  const auto data = document.find("data");
  for (const json* in : {&document, data != document.end() && data->is_object() ? &*data : nullptr}) {
    if (!in) continue;
    const auto member = in->find("secret");
    if (member != in->end() && member->is_string()) offered.push_back(member->get<std::string>());
  }
  return offered;
}

Result<LiveEvent, ReadFailure> readLiveEvent(const RelayRequest& request) {
  try {
    // A type that says JSON is taken at its word: a body that is not JSON is
    // told in the library's words. Any other type may still carry JSON
    // (relays that send it as text/plain).
    const bool saysJson = request.contentType.find("application/json") != std::string::npos;
    // Only an object can name a gift: a form body is not parsed for nothing.
    const auto start = request.body.find_first_not_of(" \t\r\n");
    const bool mayBeObject = start != std::string::npos && request.body[start] == '{';
    if ((saysJson || mayBeObject) && !common::nestingAllowed(request.body)) {
      return ReadFailure{ReadFailure::Kind::BadJson,
                         "JSON nested more than " + std::to_string(common::maxJsonNesting) + " levels deep"};
    }
    json document = saysJson      ? json::parse(request.body)
                    : mayBeObject ? json::parse(request.body, nullptr, false)
                                  : json();
    if (saysJson && !document.is_object()) {
      (void)document.value("giftName", "");  // the library's own type error for what is not an object
    }
    if (document.is_object()) {
      const Where top(&document);
      const auto name = top.first(giftNames);
      const auto data = document.find("data");
      const json* inner = data != document.end() && data->is_object() ? &*data : nullptr;
      const auto kind = kindOf(Where(&document, inner));
      // A word this program does not know beside a gift's name: a gift, as
      // such requests always were.
      const bool gift = !kind || kind->first == EventKind::Gift ||
                        (kind->first == EventKind::Unknown && (name || (inner && Where(inner).first(giftNames))));
      if (!gift) return readOtherEvent(Where(&document, inner), kind->first, kind->second);
      if (!name && inner) {
        const Where in(inner);
        return readFrom(in, in.first(giftNames));
      }
      return readFrom(top, name);
    }
    const Where fields(&request.fields);
    const auto name = fields.first(giftNames);
    const auto kind = kindOf(fields);
    if (kind && kind->first != EventKind::Gift && !(kind->first == EventKind::Unknown && name)) {
      return readOtherEvent(fields, kind->first, kind->second);
    }
    if (!name) return ReadFailure{ReadFailure::Kind::NoName, {}};
    return readFrom(fields, name);
  } catch (const json::exception& e) {
    return ReadFailure{ReadFailure::Kind::BadJson, e.what()};
  }
}

}  // namespace gifts
