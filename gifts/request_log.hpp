#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/thread_safety.hpp"
#include "gifts/gift_counter.hpp"
#include "gifts/live_event.hpp"
#include "gifts/reply.hpp"

namespace gifts {

// The latest requests as the relay sent them, each with what was read from it
// and what became of it: when a gift does not fire, the streamer sees what
// the relay sent.
class RequestLog {
 public:
  static constexpr std::size_t kept = 50;
  // What is kept of a body, and of each field.
  static constexpr std::size_t keptBytes = 2048;

  struct Entry {
    std::int64_t time = 0;  // ms since the epoch
    RelayRequest request;
    std::optional<LiveEvent> read;  // nothing when the request named no gift that could be read
    GiftCounter::Counted counted;
    Reply outcome;  // its reply is written only for the page
  };
  void add(Entry entry);
  // The entries, the latest first, as the page shows them: every text cut
  // and with its control characters made harmless.
  nlohmann::json latest() const;

 private:
  mutable Mutex mutex_;
  std::deque<Entry> entries_ GUARDED_BY(mutex_);
};

// The request cut to what the log keeps, without its secret: every secret it
// offers, and the configured one, is "***" wherever it appears (as written,
// percent-encoded or escaped in JSON), and so is every `secret` field.
RelayRequest keptOf(const RelayRequest& request, const std::string& secret);

}  // namespace gifts
