#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "config/live_config.hpp"
#include "gifts/event_state.hpp"

namespace endpoint {

class HttpServer;

// What the page says of the program beside its gifts.
struct PageStatus {
  std::string version;
  int port = 0;
  std::string keysProblem;  // why keys cannot be pressed; empty when they can
};

// The page's address on this machine: "http://localhost:5000/".
std::string pageAddress(int port);

// What GET /api/state answers: the status, the addresses a relay may post
// to (this machine's, then those of its networks), whether a secret is set,
// each gift with what it does, how many times it ran, and what keeps it from
// working, the names of gifts that came but are not in the file, with how
// many came, and why the file does not load when it was changed and does not.
// The account token is never in it whole: only its last 4 characters.
nlohmann::json pageState(const config::LiveConfig& config, const gifts::EventState& gifts, const PageStatus& status,
                         const std::vector<std::string>& networkAddresses);

// Writes the configuration file as an edit makes it of the file's text, and
// applies it; fails, saying why, leaving the file as it was.
using SaveFile = std::function<Result<>(const std::function<Result<std::string>(std::string_view text)>& edit)>;

// The control page at "/", its files, and the calls it makes:
//   GET  /api/state  the state above
//   POST /api/test   runs a gift as the relay's JSON request would ({"giftName"},
//                    and a streak's frames with "uniqueId" and "repeatCount")
//   GET  /api/requests the latest requests of the relay, with what was read
//                    from each and what became of it
//   GET  /api/feed   what became of each gift, step by step (?after=N: the
//                    steps after the first N, once there are some)
//   POST /api/gift   saves a gift: {"original": name or "", "name", "gift"}
//   POST /api/gift/remove  {"name"}
//   POST /api/token  replaces the account token, in the gifts' addresses too
//   GET  /api/secret the relay's secret, with the addresses and the header
//                    that carry it; POST writes a new one into the file first
//   GET  /api/sounds the MP3 files under the program's folder
//   POST /api/preview plays one of them: {"sound", "volume"}
// Every route but /webhook answers this machine alone, and each /api/ call
// needs `pageToken`, which the page alone is given (endpoint/page_access.hpp).
void registerPage(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                  std::shared_ptr<gifts::EventState> giftState, PageStatus status, std::string pageToken,
                  SaveFile save);

// The MP3, WAV and OGG files under `folder`, as paths relative to it with '/' between
// names, sorted; at most `most` of them.
std::vector<std::string> soundFiles(const std::string& folder, std::size_t most);

// A token for this run of the program, that no other program can guess.
std::string newPageToken();

}  // namespace endpoint
