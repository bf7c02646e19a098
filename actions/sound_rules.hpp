#pragma once

// Which sounds play, and when: each gift's sound mode, and the sounds that
// may play at once. Told what happens, it answers what to do; the sounds
// themselves are the platform's.

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config/gift_action.hpp"

namespace actions {

// Beyond this many sounds at once, a new one is not played: after a burst
// of gifts, a pile of sounds is only noise.
inline constexpr std::size_t maxSoundsAtOnce = 8;
// How long a sound may wait its turn behind its gift's own.
inline constexpr std::chrono::milliseconds queuedStartLimit = std::chrono::seconds(10);

class SoundRules {
 public:
  using Clock = std::chrono::steady_clock;
  using Ticket = std::uint64_t;
  enum class Skip { None, OwnPlaying, TooMany, WaitedTooLong };

  struct Arrival {
    bool start = false;         // start it now; neither started nor skipped: it waits its turn
    Skip skipped = Skip::None;  // or why it is not played
    std::vector<Ticket> stop;   // the gift's sounds it replaces, to stop first
  };
  // A gift's sound arrives.
  Arrival arrive(Ticket ticket, const std::string& gift, config::SoundMode mode, Clock::time_point now);

  struct Next {
    std::vector<Ticket> start;    // sounds whose turn has come
    std::vector<Ticket> tooLong;  // sounds that waited their turn too long
  };
  // A sound ended (played out, cut, stopped, or it could not start). Also
  // asked with a ticket of none, to give up those that waited too long.
  Next ended(Ticket ticket, Clock::time_point now);

  // Every sound stops now: those that play, to stop, and those that wait,
  // given up.
  std::vector<Ticket> stopAll();

  std::size_t playing() const { return playing_.size(); }

 private:
  struct Sound {
    Ticket ticket;
    std::string gift;
    Clock::time_point arrived;
  };
  bool ownPlaying(const std::string& gift) const;

  std::vector<Sound> playing_;  // started, or starting
  std::deque<Sound> waiting_;   // behind a sound of their gift's own
};

}  // namespace actions
