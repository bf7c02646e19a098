#include "gifts/request_log.hpp"

#include <httplib.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>

#include "common/console.hpp"
#include "common/json_io.hpp"
#include "common/thread_safety.hpp"
#include "gifts/teller.hpp"

namespace gifts {

namespace {
std::string cut(const std::string& text) { return text.substr(0, RequestLog::keptBytes); }
std::string harmless(const std::string& text) { return console::shown(text, RequestLog::keptBytes); }

// The forms a secret takes in a request's texts.
std::vector<std::string> formsOf(const RelayRequest& request, const std::string& secret) {
  std::vector<std::string> forms;
  auto offered = offeredSecrets(request);
  offered.push_back(secret);
  for (const std::string& text : offered) {
    if (text.empty()) continue;
    const std::string escaped = common::jsonText(text);
    const std::string encoded = httplib::encode_uri_component(text);
    std::string formEncoded;  // a form's spaces are '+'
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      const bool space = encoded.compare(i, 3, "%20") == 0;
      formEncoded += space ? "+" : encoded.substr(i, 1);
      if (space) i += 2;
    }
    for (std::string form : {text, encoded, formEncoded, escaped.substr(1, escaped.size() - 2)}) {
      if (std::ranges::find(forms, form) == forms.end()) forms.push_back(std::move(form));
    }
  }
  // The longest first: a secret that holds another is masked whole.
  std::ranges::sort(forms, std::greater{}, &std::string::size);
  return forms;
}

std::string masked(std::string text, const std::vector<std::string>& forms) {
  for (const std::string& form : forms) {
    for (auto at = text.find(form); at != std::string::npos; at = text.find(form, at + 3)) {
      text.replace(at, form.size(), "***");
    }
  }
  return text;
}

// A JSON body with its `secret` members as "***", however the relay wrote
// them (escapes included); any other body as it came.
std::string withoutSecretMembers(const std::string& body) {
  if (body.find("secret") == std::string::npos) return body;
  auto document = common::parsedJson<nlohmann::ordered_json>(body);
  if (!document.is_object()) return body;
  bool found = false;
  const auto data = document.find("data");
  for (auto* in : {&document, data != document.end() && data->is_object() ? &*data : nullptr}) {
    if (!in) continue;
    if (const auto member = in->find("secret"); member != in->end()) {
      *member = "***";
      found = true;
    }
  }
  return found ? document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) : body;
}

}  // namespace

RelayRequest keptOf(const RelayRequest& request, const std::string& secret) {
  const auto forms = formsOf(request, secret);
  // Masked before it is cut: a cut must not leave a secret's beginning.
  const auto kept = [&forms](const std::string& text) { return cut(masked(text, forms)); };
  RelayRequest log{request.method, kept(request.contentType), kept(withoutSecretMembers(request.body)), {}};
  std::size_t fields = 0;
  for (const auto& [name, value] : request.fields) {
    if (++fields > 50) break;
    log.fields.emplace(kept(name), name == "secret" ? "***" : kept(value));
  }
  return log;
}

void RequestLog::add(Entry entry) {
  if (entry.read) {
    for (std::string* text :
         {&entry.read->name, &entry.read->viewer, &entry.read->nickname, &entry.read->streak, &entry.read->messageId}) {
      *text = console::shown(*text, shownNameLength);
    }
  }
  Entry gone;
  MutexLock lock(mutex_);
  entries_.push_front(std::move(entry));
  if (entries_.size() > kept) {
    gone = std::move(entries_.back());  // freed once the lock is let go
    entries_.pop_back();
  }
}

nlohmann::json RequestLog::latest() const {
  MutexLock lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const Entry& entry : entries_) {
    nlohmann::json fields = nlohmann::json::array();
    for (const auto& [name, value] : entry.request.fields) fields.push_back({harmless(name), harmless(value)});
    nlohmann::json item{{"time", entry.time},
                        {"method", harmless(entry.request.method)},
                        {"type", harmless(entry.request.contentType)},
                        {"fields", fields},
                        {"body", harmless(entry.request.body)},
                        {"reply", harmless(replyBody(entry.outcome))}};
    if (entry.read) {
      const LiveEvent& event = *entry.read;
      nlohmann::json read{{"name", harmless(event.name)},
                          {"gifts", entry.counted.gifts},
                          {"alreadyCounted", entry.counted.alreadyCounted}};
      if (event.count) read["count"] = *event.count;
      if (!event.viewer.empty()) read["viewer"] = harmless(event.viewer);
      if (!event.nickname.empty()) read["nickname"] = harmless(event.nickname);
      if (!event.streak.empty()) read["streak"] = harmless(event.streak);
      if (event.streakEnd) read["streakEnd"] = true;
      if (event.giftType) read["giftType"] = *event.giftType;
      if (!event.messageId.empty()) read["msgId"] = harmless(event.messageId);
      if (event.diamonds) read["diamonds"] = *event.diamonds;
      if (event.kind != EventKind::Gift) {
        read["event"] = event.kind == EventKind::Unknown ? harmless(event.kindName) : kindWord(event.kind);
        if (!event.text.empty()) read["text"] = harmless(event.text);
        if (event.likes) read["likes"] = *event.likes;
        if (event.totalLikes) read["totalLikes"] = *event.totalLikes;
      }
      item["read"] = std::move(read);
    }
    list.push_back(std::move(item));
  }
  return list;
}

}  // namespace gifts
