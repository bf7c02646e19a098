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

// Where the fields are read: a JSON object, or the request's fields.
class Where {
 public:
  explicit Where(const json* object) : object_(object) {}
  explicit Where(const std::multimap<std::string, std::string>* fields) : fields_(fields) {}

  // The first of the names that is present, with the name it was found under.
  std::optional<std::pair<json, std::string>> first(std::span<const Name> names) const {
    for (const Name& name : names) {
      if (auto value = find(name)) return std::pair{std::move(*value), label(name)};
    }
    return std::nullopt;
  }

 private:
  static std::string label(const Name& name) {
    return name.inside ? std::string(name.inside) + "." + name.member : name.member;
  }
  std::optional<json> find(const Name& name) const {
    if (fields_) {
      if (name.inside) return std::nullopt;
      const auto found = fields_->find(name.member);
      if (found == fields_->end()) return std::nullopt;
      return json(found->second);
    }
    const json* in = object_;
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
  if (const auto diamonds = one("diamondCount")) event.diamonds = wholeNumber(*diamonds);
  return event;
}

}  // namespace

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
      if (!name && data != document.end() && data->is_object()) {
        const Where inner(&*data);
        return readFrom(inner, inner.first(giftNames));
      }
      return readFrom(top, name);
    }
    const Where fields(&request.fields);
    const auto name = fields.first(giftNames);
    if (!name) return ReadFailure{ReadFailure::Kind::NoName, {}};
    return readFrom(fields, name);
  } catch (const json::exception& e) {
    return ReadFailure{ReadFailure::Kind::BadJson, e.what()};
  }
}

}  // namespace gifts
