#include "config/config_edit.hpp"

#include <algorithm>
#include <functional>

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
    for (const char* member : editedMembers) {
      const auto value = members.find(member);
      if (value == members.end()) continue;
      if (value->is_null() ||
          (std::string_view(member) == "sound" && value->is_string() && value->get_ref<const std::string&>().empty())) {
        gift.erase(member);
      } else {
        gift[member] = ordered_json::parse(value->dump());
      }
    }
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

Result<std::string> withoutGift(std::string_view text, const std::string& name) {
  return edited(text, [&](ordered_json& gifts, ordered_json&) -> Result<> {
    if (gifts.erase(name) == 0) return Failure{"aucun cadeau ne s'appelle \"" + name + "\""};
    return {};
  });
}

}  // namespace config
