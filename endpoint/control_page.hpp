#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "config/live_config.hpp"
#include "endpoint/gift_handler.hpp"

namespace endpoint {

class HttpServer;

// What the page says of the program beside its gifts.
struct PageStatus {
  std::string version;
  int port = 0;
  std::string keysProblem;    // why keys cannot be pressed; empty when they can
  std::string soundsProblem;  // why sounds cannot be played; empty when they can
};

// The page's address on this machine: "http://localhost:5000/".
std::string pageAddress(int port);

// What GET /api/state answers: the status, the addresses a relay may post
// to (this machine's, then those of its networks), whether a secret is set,
// each gift with what it does, how many times it ran, and what keeps it from
// working, and why the file does not load when it was changed and does not.
// The account token is never in it.
nlohmann::json pageState(const config::LiveConfig& config, const GiftHistory& history, const PageStatus& status,
                         const std::vector<std::string>& networkAddresses);

// The control page at "/", its files, and the calls it makes:
//   GET  /api/state  the state above
//   POST /api/test   runs a gift as the relay's request would ({"giftName"})
//   GET  /api/feed   what became of each gift, step by step (?after=N: the
//                    steps after the first N, once there are some)
// Every route but /webhook answers this machine alone, and a change needs
// `pageToken`, which the page alone is given (endpoint/page_access.hpp).
void registerPage(HttpServer& server, std::shared_ptr<config::LiveConfig> config, std::shared_ptr<GiftHistory> history,
                  PageStatus status, std::string pageToken);

// A token for this run of the program, that no other program can guess.
std::string newPageToken();

}  // namespace endpoint
