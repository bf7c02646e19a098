#include "config/config_edit.hpp"

#include <functional>

#include "common/json_nesting.hpp"

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
        for (auto at = target.find(old); at != std::string::npos; at = target.find(old, at + token.size())) {
          target.replace(at, old.size(), token);
        }
      }
    }
    document["token"] = token;
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
