#include "config/config_edit.hpp"

#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>

#include "common/json_io.hpp"

namespace config {
namespace {

using nlohmann::ordered_json;

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// The file's document changed by `edit`, written back as the program writes
// the file (an indent of 4), with its byte-order mark if it had one.
Result<std::string> edited(std::string_view text,
                           const std::function<Result<>(ordered_json& gifts, ordered_json& document)>& edit) {
  const bool marked = text.starts_with(byteOrderMark);
  if (marked) text.remove_prefix(byteOrderMark.size());
  ordered_json document = common::parsedJson<ordered_json>(text);
  if (!document.is_object()) {
    return Failure{"le fichier de configuration ne se lit pas (corrigez-le dans le Bloc-notes d'abord)"};
  }
  ordered_json& gifts = document["gifts"];
  if (gifts.is_null()) gifts = ordered_json::object();
  if (!gifts.is_object()) return Failure{"le champ \"gifts\" du fichier n'est pas une liste de cadeaux"};
  if (auto done = edit(gifts, document); !done) return done.failure();
  return (marked ? std::string(byteOrderMark) : std::string()) +
         document.dump(4, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string withQueryValue(std::string url, std::string_view from, std::string_view to) {
  const auto query = url.find('?');
  if (query == std::string::npos || from.empty()) return url;
  // Each parameter ends at the next '&'; the query, at a '#' or the end.
  for (std::size_t at = query + 1;;) {
    std::size_t end = std::min(url.find_first_of("&#", at), url.size());
    const std::size_t equals = url.find('=', at);
    if (equals < end && std::string_view(url).substr(equals + 1, end - equals - 1) == from) {
      url.replace(equals + 1, from.size(), to);
      end = equals + 1 + to.size();
    }
    if (url.compare(end, 1, "&") != 0) break;
    at = end + 1;
  }
  return url;
}

namespace {

// The page's members written into a rule, as withGift says.
void applyMembers(ordered_json& rule, const nlohmann::json& members, std::initializer_list<const char*> extra = {}) {
  const auto apply = [&](const char* member) {
    const auto value = members.find(member);
    if (value == members.end()) return;
    if (value->is_null() ||
        (std::string_view(member) == "sound" && value->is_string() && value->get_ref<const std::string&>().empty())) {
      rule.erase(member);
    } else {
      rule[member] = ordered_json::parse(value->dump());
    }
  };
  for (const char* member : editedMembers) apply(member);
  for (const char* member : extra) apply(member);
}

}  // namespace

Result<std::string> withGift(std::string_view text, const std::string& original, const std::string& name,
                             const nlohmann::json& members) {
  return edited(text, [&](ordered_json& gifts, ordered_json&) -> Result<> {
    if (name.empty()) return Failure{"le nom du cadeau est vide"};
    if (name != original && gifts.contains(name)) return Failure{"un cadeau s'appelle deja \"" + name + "\""};
    ordered_json gift = ordered_json::object();
    if (!original.empty() && gifts.contains(original)) {
      gift = gifts[original];
      if (!gift.is_object()) gift = ordered_json::object();
      if (name != original) gifts.erase(original);
    }
    applyMembers(gift, members);
    gifts[name] = std::move(gift);
    return {};
  });
}

Result<std::string> withToken(std::string_view text, const std::string& token) {
  return edited(text, [&](ordered_json& gifts, ordered_json& document) -> Result<> {
    if (token.empty()) return Failure{"le token est vide"};
    const ordered_json before = document.value("token", ordered_json());
    if (before.is_string() && !before.get_ref<const std::string&>().empty()) {
      const std::string& old = before.get_ref<const std::string&>();
      for (auto& gift : gifts) {
        if (!gift.is_object() || !gift.value("target", ordered_json()).is_string()) continue;
        auto& target = gift["target"].get_ref<std::string&>();
        target = withQueryValue(target, old, token);
      }
    }
    document["token"] = token;
    return {};
  });
}

Result<std::string> withGoals(std::string_view text, const nlohmann::json& goals) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    if (!goals.is_array()) return Failure{"les objectifs ne sont pas une liste"};
    const ordered_json before = document.value("goals", ordered_json::array());
    ordered_json written = ordered_json::array();
    for (const auto& goal : goals) {
      if (!goal.is_object() || !goal.value("name", nlohmann::json()).is_string()) {
        return Failure{"un objectif n'a pas de nom"};
      }
      ordered_json kept = ordered_json::object();
      for (const auto& old : before.is_array() ? before : ordered_json::array()) {
        if (old.is_object() && old.value("name", ordered_json()) == goal["name"].get<std::string>()) kept = old;
      }
      for (const char* member : {"name", "counts", "target", "reached"}) {
        const auto value = goal.find(member);
        if (value == goal.end()) continue;
        if (value->is_null()) {
          kept.erase(member);
        } else {
          kept[member] = ordered_json::parse(value->dump());
        }
      }
      written.push_back(std::move(kept));
    }
    if (written.empty()) {
      document.erase("goals");
    } else {
      document["goals"] = std::move(written);
    }
    return {};
  });
}

Result<std::string> withOverlayKey(std::string_view text, const std::string& key) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    document["overlayKey"] = key;
    return {};
  });
}

Result<std::string> withSecret(std::string_view text, const std::string& secret) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    document["secret"] = secret;
    return {};
  });
}

Result<std::string> withSoundDevice(std::string_view text, const std::string& device) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    if (device.empty()) {
      document.erase("soundDevice");
    } else {
      document["soundDevice"] = device;
    }
    return {};
  });
}

namespace {

// The file's "events", made an object when it has none.
Result<ordered_json*> eventsOf(ordered_json& document) {
  ordered_json& events = document["events"];
  if (events.is_null()) events = ordered_json::object();
  if (!events.is_object()) return Failure{"le champ \"events\" du fichier n'est pas un objet"};
  return &events;
}

bool isOnceRule(const std::string& rule) {
  return rule == "follow" || rule == "share" || rule == "subscribe" || rule == "join";
}

// A tier's place in the list, from the page's text.
std::optional<std::size_t> tierIndex(const std::string& key, const ordered_json& tiers) {
  std::size_t index = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), index);
  if (error != std::errc() || end != key.data() + key.size() || index >= tiers.size()) return std::nullopt;
  return index;
}

}  // namespace

Result<std::string> withEvent(std::string_view text, const std::string& rule, const std::string& original,
                              const std::string& key, const nlohmann::json& members) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    const auto events = eventsOf(document);
    if (!events) return events.failure();
    ordered_json& all = **events;
    const auto kept = [](const ordered_json& member) { return member.is_object() ? member : ordered_json::object(); };
    if (isOnceRule(rule) || rule == "likes") {
      ordered_json entry = kept(all.value(rule, ordered_json()));
      applyMembers(entry, members, {"every"});
      all[rule] = std::move(entry);
    } else if (rule == "chat") {
      if (key.find_first_not_of(" \t") == std::string::npos) return Failure{"la commande est vide"};
      ordered_json& chat = all["chat"];
      if (!chat.is_object()) chat = ordered_json::object();
      if (key != original && chat.contains(key)) return Failure{"la commande \"" + key + "\" existe deja"};
      ordered_json entry = original.empty() ? ordered_json::object() : kept(chat.value(original, ordered_json()));
      if (!original.empty() && key != original) chat.erase(original);
      applyMembers(entry, members, {"viewerCooldown"});
      chat[key] = std::move(entry);
    } else if (rule == "giftTiers") {
      ordered_json& tiers = all["giftTiers"];
      if (!tiers.is_array()) tiers = ordered_json::array();
      const auto index = tierIndex(original, tiers);
      if (!original.empty() && !index) return Failure{"ce palier n'est plus dans le fichier"};
      ordered_json entry = index ? kept(tiers[*index]) : ordered_json::object();
      applyMembers(entry, members, {"minCoins"});
      if (index) {
        tiers[*index] = std::move(entry);
      } else {
        tiers.push_back(std::move(entry));
      }
    } else {
      return Failure{"pas un evenement de ce programme : " + rule};
    }
    return {};
  });
}

Result<std::string> withoutEvent(std::string_view text, const std::string& rule, const std::string& key) {
  return edited(text, [&](ordered_json&, ordered_json& document) -> Result<> {
    const auto events = eventsOf(document);
    if (!events) return events.failure();
    ordered_json& all = **events;
    if ((isOnceRule(rule) || rule == "likes") && all.erase(rule) == 1) return {};
    if (rule == "chat" && all.value("chat", ordered_json()).is_object() && all["chat"].erase(key) == 1) return {};
    if (rule == "giftTiers" && all.value("giftTiers", ordered_json()).is_array()) {
      if (const auto index = tierIndex(key, all["giftTiers"])) {
        all["giftTiers"].erase(*index);
        return {};
      }
    }
    return Failure{"cette regle n'est pas dans le fichier"};
  });
}

Result<std::string> withoutGift(std::string_view text, const std::string& name) {
  return edited(text, [&](ordered_json& gifts, ordered_json&) -> Result<> {
    if (gifts.erase(name) == 0) return Failure{"aucun cadeau ne s'appelle \"" + name + "\""};
    return {};
  });
}

}  // namespace config
