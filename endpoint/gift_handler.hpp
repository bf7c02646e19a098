#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "actions/outcome.hpp"
#include "config/config_file.hpp"
#include "config/live_config.hpp"
#include "endpoint/feed.hpp"

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
  std::string contentType{};
  std::string body{};
  std::optional<std::string> giftNameParameter{};  // first query or form value
  std::optional<std::string> secretHeader{};       // X-Webhook-Secret
  std::optional<std::string> secretParameter{};    // first query or form value
};

// True when no secret is configured, or when the request carries it: in the
// X-Webhook-Secret header, a `secret` parameter, or a `secret` member of a
// JSON body. The comparison takes the same time whatever the texts.
bool carriesSecret(const GiftRequest& request, const std::string& secret);

// Where a gift came from: the relay tool, or the control page's test button.
enum class Source { Relay, Test };

// What became of the gifts since start: when each last ran (for its
// cooldown), how many times, how many gifts came in all, and the steps of the
// latest ones for the control page's feed.
class GiftHistory {
 public:
  using Clock = std::chrono::steady_clock;
  // A gift has come, named: its number in the feed.
  std::uint64_t arrived(Clock::time_point now);
  std::uint64_t nextGift() { return gifts_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Tells steps of one gift: their console lines, in one write, and their
  // entries in the feed.
  void tell(std::uint64_t gift, Source source, const std::string& name, std::initializer_list<actions::Step> steps);
  Feed& feed() { return feed_; }
  // The configuration was applied again, or refused: the page reads it anew.
  void configChanged() { feed_.add(R"({"gift": 0, "kind": "config"})"); }
  // True, and the gift counted as run at `now`, unless it ran less than
  // `cooldown` before.
  bool mayRun(const std::string& gift, std::chrono::milliseconds cooldown, Clock::time_point now);

  std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
  // The gifts that came in each of the 60 minutes up to `now`, the oldest
  // first.
  std::array<std::uint32_t, 60> perMinute(Clock::time_point now) const;
  std::uint64_t runs(const std::string& gift) const;

 private:
  struct Runs {
    Clock::time_point last;
    std::uint64_t count = 0;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Runs> runs_;
  std::atomic<std::uint64_t> received_{0};
  // For each minute of the last hour, by its number modulo 60: which minute
  // it is, and how many gifts came in it.
  std::array<std::pair<std::int64_t, std::uint32_t>, 60> minutes_{};
  std::atomic<std::uint64_t> gifts_{0};
  Feed feed_;
};

// Reads the gift's name, prints it, plays its sound and runs its action.
// Answers the JSON reply body; every reply goes out with status 200.
std::string handleGift(const GiftRequest& request, const config::LoadedConfig& config, GiftHistory& history,
                       Source source = Source::Relay);

// The gift handler as the server runs it: reads the request as the library
// parsed it (header, body, query and form fields) and sets the reply; a
// request without the secret, when one is set, is refused (403).
void serveGift(const httplib::Request& req, httplib::Response& res, const config::LoadedConfig& config,
               GiftHistory& history);

// POST /webhook (the gift handler) and OPTIONS /webhook (CORS preflight),
// the request size limit, and the CORS header on every /webhook reply. The
// handler keeps the configuration alive. An empty secret lets every request
// in.
void registerRoutes(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                    std::shared_ptr<GiftHistory> history);

}  // namespace endpoint
