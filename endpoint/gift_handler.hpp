#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "config/config_file.hpp"
#include "config/live_config.hpp"
#include "gifts/event_state.hpp"
#include "gifts/live_event.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace endpoint {

class HttpServer;

// The header a relay may carry the secret in.
inline constexpr const char* secretHeader = "X-Webhook-Secret";

// A request body larger than this is refused (413) before any handler runs.
inline constexpr std::size_t maxRequestBodyBytes = 64 * 1024;

// The request as the gifts read it: its method, type, body, and its query and
// form fields as the library decoded them.
gifts::RelayRequest relayRequestOf(const httplib::Request& req);

// True when no secret is configured, or when the request offers it, wherever
// (gifts::offeredSecrets). The comparison takes the same time whatever the
// texts.
bool carriesSecret(const gifts::RelayRequest& request, const std::string& secret);

// The gift handler as the server runs it: a request without the secret, when
// one is set, is refused (403); any other is the gifts' to read and run, and
// its reply is theirs.
void serveGift(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const config::LoadedConfig> config,
               const std::shared_ptr<gifts::EventState>& state);

// POST and GET /webhook (the gift handler; relays that can only send GET put
// the fields in the query) and OPTIONS /webhook (CORS preflight), the request
// size limit, and the CORS header on every /webhook reply. The handler keeps
// the configuration alive. An empty secret lets every request in.
void registerRoutes(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                    std::shared_ptr<gifts::EventState> state);

}  // namespace endpoint
