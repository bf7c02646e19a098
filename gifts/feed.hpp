#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "common/thread_safety.hpp"

namespace gifts {

// Where a gift came from: the relay tool, or the control page's test button.
enum class Source { Relay, Test };

// One step of one gift, as the page shows it.
struct FeedStep {
  std::uint64_t gift = 0;  // its number since start; 0 for what is no gift
  std::int64_t time = 0;   // ms since the epoch
  Source source = Source::Relay;
  std::string name;
  std::string viewer;  // as shown; empty for none
  int count = -1;      // the gifts it was; -1 when the request named no count
  const char* kind = "";
  std::string line;            // its console line
  std::string window = {};     // for a key: the window that had the focus
  const char* event = "gift";  // the kind of event it belongs to
};

// What became of the latest gifts, step by step, for the control page: each
// open page waits for the next steps and gets them in batches. Steps are
// kept as they are and written out only for a page that asks, so that gifts
// cost nothing more while no page is open.
class Feed {
 public:
  // Steps kept for a page that opens later: a few for each of the last 200
  // gifts.
  static constexpr std::size_t kept = 1000;
  // Pages that may follow the feed at once: each holds a worker.
  static constexpr std::size_t maxFollowers = 4;
  // How often a waiting page is asked whether it has gone (closed, reloaded),
  // so that its place is free for the next page well before the heartbeat.
  static constexpr std::chrono::seconds goneCheck{1};

  // Adds one step and wakes the pages that wait.
  void add(FeedStep step);

  // A page starts following: false when too many already do.
  bool follow();
  void unfollow();

  // The steps after the `seen`-th, as a JSON array, once there are some; the
  // steps that come within `gather` of the first are sent with it. Empty
  // after `heartbeat` without any, or once `gone` answers true. `seen`
  // becomes the count of steps sent; one beyond every step ever added is
  // taken for 0.
  std::string next(
      std::uint64_t& seen, std::chrono::milliseconds gather, std::chrono::milliseconds heartbeat,
      const std::function<bool()>& gone = [] { return false; });

 private:
  Mutex mutex_;
  CondVar added_;
  std::deque<FeedStep> steps_ GUARDED_BY(mutex_);
  std::uint64_t count_ GUARDED_BY(mutex_) = 0;  // of all the steps ever added
  std::size_t followers_ GUARDED_BY(mutex_) = 0;
  std::size_t waiting_ GUARDED_BY(mutex_) = 0;  // pages in next() now
};

}  // namespace gifts
