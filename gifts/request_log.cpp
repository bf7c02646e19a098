#include "gifts/request_log.hpp"

#include <nlohmann/json.hpp>

#include "common/console.hpp"
#include "gifts/teller.hpp"

namespace gifts {

namespace {
std::string cut(const std::string& text) { return text.substr(0, RequestLog::keptBytes); }
std::string harmless(const std::string& text) { return console::shown(text, RequestLog::keptBytes); }
}  // namespace

RelayRequest keptOf(const RelayRequest& request) {
  RelayRequest kept{request.method, cut(request.contentType), cut(request.body), {}};
  std::size_t fields = 0;
  for (const auto& [name, value] : request.fields) {
    if (++fields > 50) break;
    kept.fields.emplace(cut(name), cut(value));
  }
  return kept;
}

void RequestLog::add(Entry entry) {
  if (entry.read) {
    for (std::string* text :
         {&entry.read->name, &entry.read->viewer, &entry.read->nickname, &entry.read->streak, &entry.read->messageId}) {
      *text = console::shown(*text, shownNameLength);
    }
  }
  Entry gone;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_front(std::move(entry));
  if (entries_.size() > kept) {
    gone = std::move(entries_.back());  // freed once the lock is let go
    entries_.pop_back();
  }
}

nlohmann::json RequestLog::latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
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
      const GiftEvent& event = *entry.read;
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
      item["read"] = std::move(read);
    }
    list.push_back(std::move(item));
  }
  return list;
}

}  // namespace gifts
