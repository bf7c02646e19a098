#include "endpoint/control_page.hpp"

#include <httplib.h>
#include <openssl/rand.h>

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>

#include "actions/gift_check.hpp"
#include "actions/outgoing_webhook.hpp"
#include "common/console.hpp"
#include "endpoint/http_server.hpp"
#include "endpoint/page_access.hpp"
#include "endpoint/page_files.hpp"
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

const char* typeOf(std::string_view path) {
  if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (path.ends_with(".css")) return "text/css; charset=utf-8";
  return "text/html; charset=utf-8";
}

}  // namespace

std::string pageAddress(int port) { return "http://localhost:" + std::to_string(port) + "/"; }

json pageState(const config::LiveConfig& live, const GiftHistory& history, const PageStatus& status,
               const std::vector<std::string>& networkAddresses) {
  const auto current = live.current();
  const config::LoadedConfig& config = *current;
  json relay = json::array({"http://localhost:" + std::to_string(status.port) + "/webhook"});
  for (const auto& address : networkAddresses) {
    relay.push_back("http://" + address + ":" + std::to_string(status.port) + "/webhook");
  }
  json gifts = json::array();
  for (const auto& [name, gift] : config.gifts) {
    gifts.push_back(
        {{"name", name},
         {"action", gift.action},
         {"target", gift.action == "webhook" ? actions::printedUrl(gift.target, config.token) : gift.target},
         {"hold", gift.hold.count()},
         {"repeat", gift.repeat},
         {"sound", gift.sound},
         {"volume", gift.volume},
         {"cooldown", gift.cooldown.count()},
         {"runs", history.runs(name)},
         {"problem", actions::giftProblems(gift)}});
  }
  return {{"version", status.version},        {"port", status.port},
          {"keys", status.keysProblem},       {"sounds", status.soundsProblem},
          {"secret", !config.secret.empty()}, {"relay", relay},
          {"received", history.received()},   {"gifts", gifts},
          {"configProblem", live.problem()}};
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

void registerPage(HttpServer& server, std::shared_ptr<config::LiveConfig> config, std::shared_ptr<GiftHistory> history,
                  PageStatus status, std::string pageToken) {
  const int port = status.port;
  server.set_pre_routing_handler([port, pageToken](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/webhook") return httplib::Server::HandlerResponse::Unhandled;
    addPageHeaders(res);
    const PageRequest page{req.remote_addr, req.get_header_value("Host"), headerOf(req, "Origin"),
                           headerOf(req, "X-Page-Token"),
                           req.path.starts_with("/api/") && req.method != "GET" && req.method != "HEAD"};
    const PageRefusal refusal = pageRefusal(page, port, pageToken);
    if (refusal == PageRefusal::None) return httplib::Server::HandlerResponse::Unhandled;
    if (refusal == PageRefusal::NotThisMachine) {
      console::printLine("Page de controle refusee a " + console::shown(req.remote_addr) +
                         " : elle ne s'ouvre que sur cet ordinateur");
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
  server.Get("/api/state", [config, history, status](const httplib::Request&, httplib::Response& res) {
    const json state = pageState(*config, *history, status, platform::networkAddresses());
    res.set_content(state.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
  });
  server.Post("/api/test", [config, history](const httplib::Request& req, httplib::Response& res) {
    const GiftRequest request{"application/json", req.body};
    res.set_content(handleGift(request, *config->current(), *history, Source::Test), "application/json; charset=utf-8");
  });
  // Long polling: the page asks for the steps after those it has, and the
  // answer waits until there are some (a heartbeat of none now and then finds
  // out a page that has gone). The library's streamed replies stop at once
  // under a server that runs its own accept loop, as this one does.
  server.Get("/api/feed", [history](const httplib::Request& req, httplib::Response& res) {
    if (!history->feed().follow()) {
      res.status = 503;
      res.set_content("Trop de pages de controle ouvertes a la fois : fermez-en une.", textType);
      return;
    }
    std::uint64_t seen = 0;
    const std::string after = req.get_param_value("after");
    std::from_chars(after.data(), after.data() + after.size(), seen);
    const std::string steps = history->feed().next(seen, feedGather, feedHeartbeat);
    history->feed().unfollow();
    res.set_content(R"({"next": )" + std::to_string(seen) + R"(, "steps": )" + (steps.empty() ? "[]" : steps) + "}",
                    "application/json; charset=utf-8");
  });
}

}  // namespace endpoint
