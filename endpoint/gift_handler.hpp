#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/config_file.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace endpoint {

class HttpServer;

// A request body larger than this is refused (413) before any handler runs.
inline constexpr std::size_t maxRequestBodyBytes = 64 * 1024;

// What the gift handler reads of a POST /webhook request.
struct GiftRequest {
  std::string contentType;
  std::string body;
  std::optional<std::string> giftNameParameter;  // first query or form value
  std::optional<std::string> secretHeader;       // X-Webhook-Secret
  std::optional<std::string> secretParameter;    // first query or form value
};

// True when no secret is configured, or when the request carries it: in the
// X-Webhook-Secret header, a `secret` parameter, or a `secret` member of a
// JSON body. The comparison takes the same time whatever the texts.
bool carriesSecret(const GiftRequest& request, const std::string& secret);

// When each gift with a cooldown last ran.
class Cooldowns {
 public:
  using Clock = std::chrono::steady_clock;
  // True, and the gift counted as run at `now`, unless it ran less than
  // `cooldown` before.
  bool mayRun(const std::string& gift, std::chrono::milliseconds cooldown, Clock::time_point now);

 private:
  std::mutex mutex_;
  std::map<std::string, Clock::time_point> lastRun_;
};

// Reads the gift's name, prints it, plays its sound and runs its action.
// Answers the JSON reply body; every reply goes out with status 200.
std::string handleGift(const GiftRequest& request, const config::LoadedConfig& config, Cooldowns& cooldowns);

// The gift handler as the server runs it: reads the request as the library
// parsed it (header, body, query and form fields) and sets the reply; a
// request without the secret, when one is set, is refused (403).
void serveGift(const httplib::Request& req, httplib::Response& res, const config::LoadedConfig& config,
               Cooldowns& cooldowns);

// POST /webhook (the gift handler) and OPTIONS /webhook (CORS preflight),
// the request size limit, and the CORS header on every /webhook reply. The
// handler keeps the configuration alive. An empty secret lets every request
// in.
void registerRoutes(HttpServer& server, std::shared_ptr<const config::LoadedConfig> config);

}  // namespace endpoint
