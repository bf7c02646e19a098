#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "common/thread_safety.hpp"
#include "config/config_file.hpp"
#include "gifts/session.hpp"

namespace gifts {

// An alert's text with {viewer}, {gift}, {count} and {coins} filled in.
std::string alertText(const std::string& text, const std::string& viewer, const std::string& gift, int count,
                      std::int64_t coins);

// What the goal and last-gift overlays show now: {"type": "state", "goals":
// [{"name", "count", "target"}], "last": {"gift", "viewer", "count"} or
// null, "top": {"viewer", "coins"} or null}.
nlohmann::json overlayState(const config::LoadedConfig& config, const Session& session);

// What the overlays open in OBS are sent, as they happen: alerts and the
// state above, each a JSON text. Each overlay's stream waits for the next
// ones; one that reconnects gets the state first and none of what it missed.
class OverlayFeed {
 public:
  // Messages kept for a stream that is a little behind.
  static constexpr std::size_t kept = 200;
  // Overlays that may follow at once: each holds a worker.
  static constexpr std::size_t maxFollowers = 32;

  void publish(std::string message);
  bool followed() const;

  // An overlay starts following: false when too many already do.
  bool follow();
  void unfollow();

  // The messages after the `seen`-th, waiting up to `wait` for one; `seen`
  // becomes the count of messages ever published. A stream too far behind
  // starts from the oldest kept.
  std::vector<std::string> next(std::uint64_t& seen, std::chrono::milliseconds wait);
  std::uint64_t published() const;

 private:
  mutable Mutex mutex_;
  CondVar added_;
  std::deque<std::string> messages_ GUARDED_BY(mutex_);
  std::uint64_t count_ GUARDED_BY(mutex_) = 0;
  std::size_t followers_ GUARDED_BY(mutex_) = 0;
};

}  // namespace gifts
