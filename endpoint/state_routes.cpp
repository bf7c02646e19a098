#include <httplib.h>

#include <charconv>
#include <nlohmann/json.hpp>

#include "common/console.hpp"
#include "common/json_io.hpp"
#include "endpoint/page_files.hpp"
#include "endpoint/page_routes.hpp"
#include "gifts/handle_event.hpp"
#include "platform/platform.hpp"

namespace endpoint {
namespace {

constexpr std::string_view tokenMark = "{{page-token}}";
// The feed waits this long after a step for the others of a storm, and
// says something at least this often.
constexpr std::chrono::milliseconds feedGather{250};
constexpr std::chrono::seconds feedHeartbeat{15};

const char* typeOf(std::string_view path) {
  if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (path.ends_with(".css")) return "text/css; charset=utf-8";
  return "text/html; charset=utf-8";
}

}  // namespace

using nlohmann::json;

void registerStateRoutes(const PageParts& parts) {
  HttpServer& server = parts.server;
  const auto& config = parts.config;
  const auto& giftState = parts.state;
  const PageStatus& status = parts.status;
  const std::string& pageToken = parts.pageToken;
  for (const PageFile& file : pageFiles()) {
    if (file.path.starts_with("/overlay/")) continue;  // the overlays' own routes serve them
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
  server.Get("/api/requests", [giftState](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(giftState->requests.latest()), jsonReplyType);
  });
  // What the stream brought since the start or the last new session.
  server.Get("/api/session", [giftState](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(giftState->session.figures()), jsonReplyType);
  });
  server.Post("/api/session/new", [config, giftState](const httplib::Request&, httplib::Response& res) {
    giftState->session.reset();
    console::printLine("Nouvelle session : les compteurs repartent de zero");
    gifts::afterEvent(config->current(), giftState, gifts::Source::Test);
    res.set_content(common::jsonText(giftState->session.figures()), jsonReplyType);
  });
  // The output devices, the one chosen, a tone on one of them to hear it.
  server.Get("/api/focus", [](const httplib::Request&, httplib::Response& res) {
    const auto focus = platform::focusedWindow();
    const json window =
        focus ? json{{"program", focus->program}, {"title", focus->title}, {"kind", focus->kind}} : json();
    res.set_content(common::jsonText(json{{"window", window}}), jsonReplyType);
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
