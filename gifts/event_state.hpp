#pragma once

#include <atomic>
#include <cstdint>

#include "gifts/cooldowns.hpp"
#include "gifts/event_counting.hpp"
#include "gifts/gift_counter.hpp"
#include "gifts/overlay_feed.hpp"
#include "gifts/request_log.hpp"
#include "gifts/session.hpp"
#include "gifts/tally.hpp"
#include "gifts/teller.hpp"

namespace gifts {

// What the gifts share from one request to the next, for as long as the
// program runs.
struct EventState {
  GiftCounter counter;
  LikeCounter likes;
  // Follows and joins of each viewer, chat commands' viewers; the kinds of
  // event lately said to have no rule.
  ViewerMemory viewers;
  ViewerMemory toldKinds;
  Session session;
  Cooldowns cooldowns;
  Tally tally;
  RequestLog requests;
  Teller teller;
  OverlayFeed overlays;
  std::atomic<std::uint64_t> numbers{0};
  // Requests whose later gifts are running now, each on a thread of its own.
  static constexpr int maxRunning = 64;
  std::atomic<int> running{0};

  // The next gift's number in the feed.
  std::uint64_t nextNumber() { return numbers.fetch_add(1, std::memory_order_relaxed) + 1; }
};

}  // namespace gifts
