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
#include "endpoint/page_files.hpp"
#include "gifts/handle_event.hpp"
#include "platform/platform.hpp"
#include "platform/sockets.hpp"

namespace endpoint {
namespace {

using nlohmann::json;

constexpr const char* textType = "text/plain; charset=utf-8";
constexpr std::string_view tokenMark = "{{page-token}}";
// The feed waits this long after a step for the others of a storm, and
// says something at least this often.
constexpr std::chrono::milliseconds feedGather{250};
constexpr std::chrono::seconds feedHeartbeat{15};

// The page runs its own files alone: no other site's script, style, frame
// or form target, and no site may frame it.
void addPageHeaders(httplib::Response& res) {
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
                 "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("X-Frame-Options", "DENY");
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
    case PageRefusal::None:
      break;
  }
  return {};
}

std::optional<std::string> headerOf(const httplib::Request& req, const char* name) {
  if (!req.has_header(name)) return std::nullopt;
  return req.get_header_value(name);
}

// The sounds the page lists, at most.
constexpr std::size_t maxSoundFiles = 500;

// A save's reply: done, or why not (400), for the page to show beside the
// form.
void answerSave(httplib::Response& res, const Result<>& saved) {
  if (!saved) res.status = 400;
  const json reply = saved ? json{{"saved", true}} : json{{"error", saved.reason()}};
  res.set_content(common::jsonText(reply), jsonReplyType);
}

const char* typeOf(std::string_view path) {
  if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (path.ends_with(".css")) return "text/css; charset=utf-8";
  return "text/html; charset=utf-8";
}

// Where the relay sends its gifts: this machine's address, then its
// networks'.
json relayAddresses(int port, const std::vector<std::string>& networkAddresses) {
  json relay = json::array({"http://localhost:" + std::to_string(port) + "/webhook"});
  for (const auto& address : networkAddresses) {
    relay.push_back("http://" + address + ":" + std::to_string(port) + "/webhook");
  }
  return relay;
}

}  // namespace

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
                {"problem", actions::giftProblems(gift)}};
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
  server.set_pre_routing_handler([port, pageToken, refused](const httplib::Request& req, httplib::Response& res) {
    // Which of two names the request is for depends on who reads it: the
    // name check below would read the first, a proxy perhaps the second.
    if (req.get_header_value_count("Host") > 1) {
      res.status = 400;
      res.set_content("Demande refusee : elle porte plusieurs en-tetes Host.", textType);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.path == "/webhook") return httplib::Server::HandlerResponse::Unhandled;
    addPageHeaders(res);
    const PageRequest page{req.remote_addr, req.get_header_value("Host"), headerOf(req, "Origin"),
                           headerOf(req, "X-Page-Token"), req.path.starts_with("/api/")};
    const PageRefusal refusal = pageRefusal(page, port, pageToken);
    if (refusal == PageRefusal::None) return httplib::Server::HandlerResponse::Unhandled;
    if (refusal == PageRefusal::NotThisMachine) {
      if (const auto unsaid = refused->toSay(req.remote_addr, std::chrono::steady_clock::now())) {
        console::printLine(
            "Page de controle refusee a " + console::shown(req.remote_addr) +
            " : elle ne s'ouvre que sur cet ordinateur" +
            (*unsaid > 0 ? " (et " + std::to_string(*unsaid) + " autres demandes de cette adresse depuis une minute)"
                         : ""));
      }
    }
    res.status = 403;
    res.set_content(refusalText(refusal, port), textType);
    return httplib::Server::HandlerResponse::Handled;
  });

  for (const PageFile& file : pageFiles()) {
    std::string bytes(file.bytes);
    if (const auto mark = bytes.find(tokenMark); mark != std::string::npos) {
      bytes.replace(mark, tokenMark.size(), pageToken);
    }
    const auto serve = [bytes, type = typeOf(file.path)](const httplib::Request&, httplib::Response& res) {
      res.set_content(bytes, type);
    };
    server.Get(std::string(file.path), serve);
    if (file.path == "/index.html") server.Get("/", serve);
  }
  server.Get("/api/state", [config, giftState, status](const httplib::Request&, httplib::Response& res) {
    const json state = pageState(*config, *giftState, status, platform::networkAddresses());
    res.set_content(common::jsonText(state), jsonReplyType);
  });
  // The same way as the relay's: read, counted, run.
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
  // A save whose request names one text member: the new token, the gift to remove.
  const auto savingMember = [save](const char* member,
                                   Result<std::string> (*edit)(std::string_view, const std::string&)) {
    return [save, member, edit](const httplib::Request& req, httplib::Response& res) {
      const json body = common::parsedJson(req.body);
      if (!body.is_object() || !body.value(member, json()).is_string()) {
        return answerSave(res, Failure{"demande illisible"});
      }
      const std::string value = body[member];
      answerSave(res, save([&](std::string_view text) { return edit(text, value); }));
    };
  };
  server.Post("/api/token", savingMember("token", config::withToken));
  // The secret, and where the relay puts it: in the address, or in a header
  // for relays that can set one. A new one is written into the file first.
  const auto secretReply = [config, status](httplib::Response& res) {
    const std::string secret = config->current()->secret;
    json relay = json::array();
    for (const json& address : relayAddresses(status.port, platform::networkAddresses())) {
      relay.push_back(address.get<std::string>() + "?secret=" + httplib::encode_uri_component(secret));
    }
    const json reply{{"secret", secret}, {"header", secretHeader}, {"relay", relay}};
    res.set_content(common::jsonText(reply), jsonReplyType);
  };
  server.Get("/api/secret", [secretReply](const httplib::Request&, httplib::Response& res) { secretReply(res); });
  server.Post("/api/secret", [save, secretReply](const httplib::Request&, httplib::Response& res) {
    const std::string secret = newPageToken();
    if (const auto saved = save([&](std::string_view text) { return config::withSecret(text, secret); }); !saved) {
      return answerSave(res, saved);
    }
    secretReply(res);
  });
  server.Post("/api/gift/remove", savingMember("name", config::withoutGift));
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
  // What the stream brought since the start or the last new session.
  server.Get("/api/session", [giftState](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(giftState->session.figures()), jsonReplyType);
  });
  server.Post("/api/session/new", [giftState](const httplib::Request&, httplib::Response& res) {
    giftState->session.reset();
    console::printLine("Nouvelle session : les compteurs repartent de zero");
    res.set_content(common::jsonText(giftState->session.figures()), jsonReplyType);
  });
  // The output devices, the one chosen, a tone on one of them to hear it.
  server.Get("/api/sound-devices", [config](const httplib::Request&, httplib::Response& res) {
    const json devices{{"devices", platform::soundDevices()}, {"chosen", config->current()->soundDevice}};
    res.set_content(common::jsonText(devices), jsonReplyType);
  });
  server.Post("/api/sound-device", savingMember("device", config::withSoundDevice));
  server.Post("/api/sound-device/test", [](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    const json device = body.is_object() ? body.value("device", json()) : json();
    const auto listed = platform::soundDevices();
    if (!device.is_string() || (!device.get_ref<const std::string&>().empty() &&
                                std::find(listed.begin(), listed.end(), device) == listed.end())) {
      res.status = 400;
      res.set_content(R"({"error": "pas une sortie audio de cet ordinateur"})", jsonReplyType);
      return;
    }
    if (const auto played = platform::playTone(device); !played) {
      res.set_content(common::jsonText(json{{"error", played.reason()}}), jsonReplyType);
      return;
    }
    res.set_content(R"({"playing": true})", jsonReplyType);
  });
  server.Post("/api/sounds/stop", [](const httplib::Request&, httplib::Response& res) {
    const std::size_t stopped = actions::stopAllSounds();
    console::printLine("Sons coupes depuis la page : " + std::to_string(stopped));
    res.set_content(common::jsonText(json{{"stopped", stopped}}), jsonReplyType);
  });
  // The window that has the focus now, for a gift's window rule.
  server.Get("/api/focus", [](const httplib::Request&, httplib::Response& res) {
    const auto focus = platform::focusedWindow();
    const json window =
        focus ? json{{"program", focus->program}, {"title", focus->title}, {"kind", focus->kind}} : json();
    res.set_content(common::jsonText(json{{"window", window}}), jsonReplyType);
  });
  server.Get("/api/sounds", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(soundFiles(".", maxSoundFiles)), jsonReplyType);
  });
  server.Post("/api/preview", [](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    const json sound = body.is_object() ? body.value("sound", json()) : json();
    const json volume = body.is_object() ? body.value("volume", json(100)) : json();
    const auto listed = soundFiles(".", maxSoundFiles);
    if (!sound.is_string() || !volume.is_number_integer() ||
        std::find(listed.begin(), listed.end(), sound.get<std::string>()) == listed.end()) {
      res.status = 400;
      res.set_content(R"({"error": "pas un fichier MP3, WAV ou OGG du dossier du programme"})", jsonReplyType);
      return;
    }
    config::GiftAction preview{"sound", {}, sound.get<std::string>(), volume.get<std::int32_t>()};
    actions::playSound({}, preview, std::chrono::steady_clock::now(), [](actions::Step step) {
      if (const auto line = actions::consoleLine(step); !line.empty()) console::printLine(line);
    });
    res.set_content(R"({"playing": true})", jsonReplyType);
  });
  // Long polling: the page asks for the steps after those it has, and the
  // answer waits until there are some (a heartbeat of none now and then finds
  // out a page that has gone). The library's streamed replies stop at once
  // under a server that runs its own accept loop, as this one does.
  server.Get("/api/feed", [giftState](const httplib::Request& req, httplib::Response& res) {
    gifts::Feed& feed = giftState->teller.feed();
    if (!feed.follow()) {
      res.status = 503;
      res.set_content("Trop de pages de controle ouvertes a la fois : fermez-en une.", textType);
      return;
    }
    std::uint64_t seen = 0;
    const std::string after = req.get_param_value("after");
    std::from_chars(after.data(), after.data() + after.size(), seen);
    const std::string steps = feed.next(seen, feedGather, feedHeartbeat, [&req] { return req.is_connection_closed(); });
    feed.unfollow();
    res.set_content(R"({"next": )" + std::to_string(seen) + R"(, "steps": )" + (steps.empty() ? "[]" : steps) + "}",
                    jsonReplyType);
  });
}

}  // namespace endpoint
