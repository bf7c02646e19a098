#include <httplib.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "actions/outgoing_webhook.hpp"
#include "common/json_io.hpp"
#include "config/config_edit.hpp"
#include "endpoint/page_routes.hpp"
#include "gifts/handle_event.hpp"

namespace endpoint {

using nlohmann::json;

void registerRuleRoutes(const PageParts& parts) {
  HttpServer& server = parts.server;
  const auto& config = parts.config;
  const auto& giftState = parts.state;
  const auto& save = parts.save;
  server.Post("/api/test", [config, giftState](const httplib::Request& req, httplib::Response& res) {
    const gifts::RelayRequest request{"POST", "application/json", req.body, {}};
    const auto outcome = gifts::handleEvent(request, config->current(), giftState, gifts::Source::Test);
    json reply = json::parse(gifts::replyBody(outcome));
    // The page says where the keys went.
    if (outcome.ending == gifts::Reply::Ending::KeyPressed) reply["window"] = outcome.text;
    res.set_content(common::jsonText(reply), jsonReplyType);
  });
  server.Get("/api/requests", [giftState](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(giftState->requests.latest()), jsonReplyType);
  });
  server.Post("/api/gift", [config, save](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    if (!body.is_object() || !body.value("name", json()).is_string() || !body.value("gift", json()).is_object()) {
      return answerSave(res, Failure{"demande illisible"});
    }
    const json originalMember = body.value("original", json());
    const std::string original = originalMember.is_string() ? originalMember.get<std::string>() : "";
    const std::string name = body["name"];
    json members = body["gift"];
    // The page edits a web address with its token as ***: given back as
    // shown, the address is the one the gift had; changed, it keeps its token.
    const auto current = config->current();
    const auto before = current->gifts.find(original);
    if (const json target = members.value("target", json()); target.is_string()) {
      const std::string& edited = target.get_ref<const std::string&>();
      members["target"] =
          before != current->gifts.end() && edited == actions::maskedUrl(before->second.target, current->token)
              ? before->second.target
              : actions::unmaskedUrl(edited, current->token);
    }
    // A sound from the list the page offers, or the one the gift had: a path
    // typed into a request could name a device or a pipe.
    if (const json sound = members.value("sound", json());
        sound.is_string() && !sound.get_ref<const std::string&>().empty()) {
      const auto listed = soundFiles(".", maxSoundFiles);
      const bool kept = before != current->gifts.end() && before->second.sound == sound;
      if (!kept && std::find(listed.begin(), listed.end(), sound) == listed.end()) {
        return answerSave(
            res, Failure{"Le champ \"sound\" doit etre un des fichiers MP3, WAV ou OGG du dossier du programme"});
      }
    }
    answerSave(res, save([&](std::string_view text) { return config::withGift(text, original, name, members); }));
  });
  server.Post("/api/gift/remove", savingMember(save, "name", config::withoutGift));
  // A rule of the events: {"rule", "key", "original", "members"}, as
  // config::withEvent takes them.
  server.Post("/api/event", [config, save](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    const auto text = [&body](const char* member) {
      const json value = body.is_object() ? body.value(member, json()) : json();
      return value.is_string() ? std::optional<std::string>(value.get<std::string>()) : std::nullopt;
    };
    const auto rule = text("rule");
    if (!rule || !body.value("members", json()).is_object()) return answerSave(res, Failure{"demande illisible"});
    json members = body["members"];
    const auto current = config->current();
    if (const json target = members.value("target", json()); target.is_string()) {
      members["target"] = actions::unmaskedUrl(target.get<std::string>(), current->token);
    }
    if (const json sound = members.value("sound", json());
        sound.is_string() && !sound.get_ref<const std::string&>().empty()) {
      const auto listed = soundFiles(".", maxSoundFiles);
      if (std::find(listed.begin(), listed.end(), sound) == listed.end()) {
        return answerSave(
            res, Failure{"Le champ \"sound\" doit etre un des fichiers MP3, WAV ou OGG du dossier du programme"});
      }
    }
    const std::string original = text("original").value_or(""), key = text("key").value_or("");
    answerSave(res,
               save([&](std::string_view file) { return config::withEvent(file, *rule, original, key, members); }));
  });
  server.Post("/api/event/remove", [save](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    if (!body.is_object() || !body.value("rule", json()).is_string() || !body.value("key", json("")).is_string()) {
      return answerSave(res, Failure{"demande illisible"});
    }
    const std::string rule = body["rule"], key = body.value("key", "");
    answerSave(res, save([&](std::string_view file) { return config::withoutEvent(file, rule, key); }));
  });
  // The goals, all at once: {"goals": [{"name", "counts", "target", "reached"}]}.
  server.Post("/api/goals", [save](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    if (!body.is_object() || !body.value("goals", json()).is_array()) {
      return answerSave(res, Failure{"demande illisible"});
    }
    answerSave(res, save([&](std::string_view file) { return config::withGoals(file, body["goals"]); }));
  });
}

}  // namespace endpoint
