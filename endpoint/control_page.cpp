#include "endpoint/control_page.hpp"

#include <httplib.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "actions/gift_check.hpp"
#include "actions/key_press.hpp"
#include "actions/outgoing_webhook.hpp"
#include "actions/sound.hpp"
#include "common/console.hpp"
#include "common/json_io.hpp"
#include "config/config_edit.hpp"
#include "endpoint/gift_handler.hpp"
#include "endpoint/http_server.hpp"
#include "endpoint/page_access.hpp"
#include "endpoint/page_routes.hpp"
#include "gifts/handle_event.hpp"
#include "platform/platform.hpp"
#include "platform/sockets.hpp"

namespace endpoint {
namespace {

using nlohmann::json;

// The page runs its own files alone: no other site's script, style, frame
// or form target, and no site may frame it. An overlay may be framed by the
// page alone, for its preview.
void addPageHeaders(httplib::Response& res, bool overlay) {
  res.set_header(
      "Content-Security-Policy",
      std::string("default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                  "img-src 'self'; frame-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors ") +
          (overlay ? "'self'" : "'none'"));
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("X-Frame-Options", overlay ? "SAMEORIGIN" : "DENY");
  res.set_header("Cross-Origin-Resource-Policy", "same-origin");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-store");
}

std::string refusalText(PageRefusal refusal, int port) {
  switch (refusal) {
    case PageRefusal::NotThisMachine:
      return "Interdit : la page de controle ne s'ouvre que sur l'ordinateur du programme.";
    case PageRefusal::WrongHost:
      return "Interdit : ouvrez la page a l'adresse " + pageAddress(port);
    case PageRefusal::WrongOrigin:
    case PageRefusal::NoToken:
      return "Interdit : cette demande ne vient pas de la page de controle.";
    case PageRefusal::NoOverlayKey:
      return "Interdit : depuis un autre ordinateur, copiez l'adresse de l'overlay avec sa cle depuis la page de "
             "controle.";
    case PageRefusal::None:
      break;
  }
  return {};
}

std::optional<std::string> headerOf(const httplib::Request& req, const char* name) {
  if (!req.has_header(name)) return std::nullopt;
  return req.get_header_value(name);
}

// The file's goals as the page edits them.
json goalsOf(const config::LoadedConfig& config) {
  json goals = json::array();
  for (const config::Goal& goal : config.goals) {
    const char* words[] = {"coins", "likes", "follows"};
    const std::string counts =
        goal.counts == config::GoalCounts::Gift ? "gift:" + goal.gift : words[static_cast<int>(goal.counts)];
    goals.push_back(
        {{"name", goal.name}, {"counts", counts}, {"target", goal.target}, {"reached", goal.reached.has_value()}});
  }
  return goals;
}

}  // namespace

void answerSave(httplib::Response& res, const Result<>& saved) {
  if (!saved) res.status = 400;
  const json reply = saved ? json{{"saved", true}} : json{{"error", saved.reason()}};
  res.set_content(common::jsonText(reply), jsonReplyType);
}

json relayAddresses(int port, const std::vector<std::string>& networkAddresses) {
  json relay = json::array({"http://localhost:" + std::to_string(port) + "/webhook"});
  for (const auto& address : networkAddresses) {
    relay.push_back("http://" + address + ":" + std::to_string(port) + "/webhook");
  }
  return relay;
}

httplib::Server::Handler savingMember(const SaveFile& save, const char* member,
                                      Result<std::string> (*edit)(std::string_view, const std::string&)) {
  return [save, member, edit](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    if (!body.is_object() || !body.value(member, json()).is_string()) {
      return answerSave(res, Failure{"demande illisible"});
    }
    const std::string value = body[member];
    answerSave(res, save([&](std::string_view text) { return edit(text, value); }));
  };
}

std::string pageAddress(int port) { return "http://localhost:" + std::to_string(port) + "/"; }

json pageState(const config::LiveConfig& live, const gifts::EventState& state, const PageStatus& status,
               const std::vector<std::string>& networkAddresses) {
  const auto current = live.current();
  const config::LoadedConfig& config = *current;
  const json relay = relayAddresses(status.port, networkAddresses);
  // A rule as the page shows and edits it; `key`: its name among cooldowns.
  const auto ruleOf = [&](const config::GiftAction& gift, const std::string& key) {
    return json{{"action", gift.action},
                {"target", gift.kind == config::ActionKind::Webhook ? actions::printedUrl(gift.target, config.token)
                                                                    : gift.target},
                {"address", gift.kind == config::ActionKind::Webhook ? actions::maskedUrl(gift.target, config.token)
                                                                     : gift.target},
                {"hold", gift.hold.count()},
                {"repeat", gift.repeat},
                {"sound", gift.sound},
                {"volume", gift.volume},
                {"soundMode", config::soundModeWord(gift.soundMode)},
                {"soundSeconds", gift.soundSeconds.count()},
                {"cooldown", gift.cooldown.count()},
                {"runs", state.cooldowns.runs(key)},
                {"window", gift.window},
                {"windowOfFile", gift.windowOfFile},
                {"problem", actions::giftProblems(gift)},
                {"alert", gift.alert ? json{{"text", gift.alert->text},
                                            {"image", gift.alert->image},
                                            {"seconds", gift.alert->seconds.count()}}
                                     : json()}};
  };
  json gifts = json::array();
  for (const auto& [name, gift] : config.gifts) {
    const auto last = state.teller.lastPresses().of(name);
    json entry = ruleOf(gift, name);
    entry["name"] = name;
    entry["lastPress"] = last ? json{{"hadFocus", last->hadFocus}, {"window", last->window}} : json();
    gifts.push_back(std::move(entry));
  }
  // The events' rules, each with what names it in the file.
  json events = json::array();
  const auto event = [&](const std::string& rule, const std::string& key, const config::GiftAction& gift,
                         const std::string& runsKey) {
    json entry = ruleOf(gift, runsKey);
    entry.update({{"rule", rule}, {"key", key}});
    events.push_back(std::move(entry));
    return &events.back();
  };
  const config::EventTable& rules = config.events;
  for (const auto& [rule, action] : {std::pair{"follow", &rules.follow}, std::pair{"share", &rules.share},
                                     std::pair{"subscribe", &rules.subscribe}, std::pair{"join", &rules.join}}) {
    if (*action) event(rule, "", **action, std::string("events.") + rule);
  }
  if (rules.likes) (*event("likes", "", rules.likes->action, "events.likes"))["every"] = rules.likes->every;
  for (const auto& [command, rule] : rules.chat) {
    (*event("chat", command, rule.action, "events.chat." + command))["viewerCooldown"] = rule.viewerCooldown.count();
  }
  for (std::size_t i = 0; i < rules.giftTiers.size(); ++i) {
    const config::GiftTier& tier = rules.giftTiers[i];
    (*event("giftTiers", std::to_string(i), tier.action,
            "events.giftTiers." + std::to_string(tier.minCoins)))["minCoins"] = tier.minCoins;
  }
  json unconfigured = json::array();
  for (const auto& [name, count] : state.tally.unconfiguredNames()) {
    if (!config.gifts.contains(name)) unconfigured.push_back({{"name", name}, {"count", count}});
  }
  // The token shown as the streamer may check it, never whole.
  const std::string& token = config.token;
  const std::string masked = token.size() > 8 ? "***" + token.substr(token.size() - 4) : "***";
  // A game run as administrator is told as soon as it has the focus, before
  // a gift's key is lost to it; and after a press was refused, until one goes.
  std::string above = state.teller.lastPresses().aboveThisProgram();
  if (const auto focus = platform::focusedWindow(); above.empty() && focus && focus->aboveThisProgram) {
    above = actions::windowShown(*focus);
  }
  return {{"token", masked},
          {"version", status.version},
          {"port", status.port},
          {"keys", status.keysProblem},
          {"sounds", platform::soundOutputProblem()},
          {"aboveThisProgram", above},
          {"secret", !config.secret.empty()},
          {"relay", relay},
          {"received", state.tally.received()},
          {"gifts", gifts},
          {"events", events},
          {"unconfigured", unconfigured},
          {"configProblem", live.problem()},
          {"goals", goalsOf(config)},
          {"perMinute", state.tally.perMinute(std::chrono::steady_clock::now())}};
}

std::string newPageToken() {
  std::array<unsigned char, 16> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw std::runtime_error("pas de nombres aleatoires pour la page de controle");
  }
  std::string token;
  for (const unsigned char byte : bytes) {
    token += "0123456789abcdef"[byte >> 4];
    token += "0123456789abcdef"[byte & 15];
  }
  return token;
}

std::vector<std::string> soundFiles(const std::string& folder, std::size_t most) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  std::error_code error;
  const fs::path base = fs::u8path(folder);
  fs::recursive_directory_iterator entry(base, fs::directory_options::skip_permission_denied, error);
  for (; !error && entry != fs::recursive_directory_iterator() && found.size() < most; entry.increment(error)) {
    if (entry.depth() >= 4) entry.disable_recursion_pending();
    std::string extension;
    for (const char8_t c : entry->path().extension().u8string()) extension += static_cast<char>(std::tolower(c));
    if ((extension != ".mp3" && extension != ".wav" && extension != ".ogg") || !entry->is_regular_file(error)) continue;
    const std::u8string relative = entry->path().lexically_relative(base).generic_u8string();
    found.emplace_back(relative.begin(), relative.end());
  }
  std::sort(found.begin(), found.end());
  return found;
}

void registerPage(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                  std::shared_ptr<gifts::EventState> giftState, PageStatus status, std::string pageToken,
                  SaveFile save) {
  const int port = status.port;
  const auto refused = std::make_shared<RefusedAddresses>();
  server.set_pre_routing_handler([port, pageToken, refused, config](const httplib::Request& req,
                                                                    httplib::Response& res) {
    // Which of two names the request is for depends on who reads it: the
    // name check below would read the first, a proxy perhaps the second.
    if (req.get_header_value_count("Host") > 1) {
      res.status = 400;
      res.set_content("Demande refusee : elle porte plusieurs en-tetes Host.", textType);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.path == "/webhook") return httplib::Server::HandlerResponse::Unhandled;
    const bool overlay = req.path.starts_with("/overlay/");
    addPageHeaders(res, overlay);
    const PageRequest page{req.remote_addr,
                           req.get_header_value("Host"),
                           headerOf(req, "Origin"),
                           headerOf(req, "X-Page-Token"),
                           req.path.starts_with("/api/"),
                           req.has_param("key") ? std::optional(req.get_param_value("key")) : std::nullopt};
    const PageRefusal refusal =
        overlay ? overlayRefusal(page, port, config->current()->overlayKey) : pageRefusal(page, port, pageToken);
    if (refusal == PageRefusal::None) return httplib::Server::HandlerResponse::Unhandled;
    if (refusal == PageRefusal::NotThisMachine || refusal == PageRefusal::NoOverlayKey) {
      if (const auto unsaid = refused->toSay(req.remote_addr, std::chrono::steady_clock::now())) {
        console::printLine(
            std::string(overlay ? "Overlay refuse a " : "Page de controle refusee a ") +
            console::shown(req.remote_addr) +
            (overlay ? " : son adresse n'a pas la cle donnee par la page de controle"
                     : " : elle ne s'ouvre que sur cet ordinateur") +
            (*unsaid > 0 ? " (et " + std::to_string(*unsaid) + " autres demandes de cette adresse depuis une minute)"
                         : ""));
      }
    }
    res.status = 403;
    res.set_content(refusalText(refusal, port), textType);
    return httplib::Server::HandlerResponse::Handled;
  });

  const PageParts parts{
      server, std::move(config), std::move(giftState), std::move(status), std::move(pageToken), std::move(save)};
  registerStateRoutes(parts);
  registerRuleRoutes(parts);
  registerSoundRoutes(parts);
  registerSettingsRoutes(parts);
  registerOverlayRoutes(parts);
}

}  // namespace endpoint
