#include "actions/sound_rules.hpp"

#include <algorithm>

namespace actions {

bool SoundRules::ownPlaying(const std::string& gift) const {
  return std::ranges::any_of(playing_, [&](const Sound& s) { return s.gift == gift; });
}

SoundRules::Arrival SoundRules::arrive(Ticket ticket, const std::string& gift, config::SoundMode mode,
                                       Clock::time_point now) {
  using config::SoundMode;
  Arrival arrival;
  if (mode == SoundMode::Skip && ownPlaying(gift)) {
    arrival.skipped = Skip::OwnPlaying;
    return arrival;
  }
  if (mode == SoundMode::Queue &&
      (ownPlaying(gift) || std::ranges::any_of(waiting_, [&](const Sound& s) { return s.gift == gift; }))) {
    waiting_.push_back({ticket, gift, now});
    return arrival;
  }
  if (mode == SoundMode::Replace) {
    std::erase_if(playing_, [&](const Sound& s) {
      if (s.gift == gift) arrival.stop.push_back(s.ticket);
      return s.gift == gift;
    });
  }
  if (playing_.size() >= maxSoundsAtOnce) {
    arrival.skipped = Skip::TooMany;
    return arrival;
  }
  playing_.push_back({ticket, gift, now});
  arrival.start = true;
  return arrival;
}

SoundRules::Next SoundRules::ended(Ticket ticket, Clock::time_point now) {
  Next next;
  std::erase_if(playing_, [&](const Sound& s) { return s.ticket == ticket; });
  std::erase_if(waiting_, [&](const Sound& s) {
    const bool tooLong = now - s.arrived > queuedStartLimit;
    if (tooLong) next.tooLong.push_back(s.ticket);
    return tooLong;
  });
  // The first waiting sound of each gift whose own have all ended.
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (ownPlaying(it->gift) || playing_.size() >= maxSoundsAtOnce) {
      ++it;
      continue;
    }
    next.start.push_back(it->ticket);
    playing_.push_back(*it);
    it = waiting_.erase(it);
  }
  return next;
}

std::vector<SoundRules::Ticket> SoundRules::stopAll() {
  std::vector<Ticket> all;
  for (const Sound& s : playing_) all.push_back(s.ticket);
  for (const Sound& s : waiting_) all.push_back(s.ticket);
  playing_.clear();
  waiting_.clear();
  return all;
}

}  // namespace actions
