#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "actions/step.hpp"
#include "gifts/feed.hpp"
#include "gifts/last_presses.hpp"

namespace gifts {

// Which gift steps belong to, as the console and the feed name it.
// A gift's name as the page's feed and requests panel keep it: a name of
// 60 KB from the network, a thousand times over, would fill the memory and
// every page that opens.
inline constexpr std::size_t shownNameLength = 200;

struct EventRecord {
  std::uint64_t number = 0;
  Source source = Source::Relay;
  std::string name;
  std::string viewer;          // as shown; empty for none
  int count = -1;              // -1 when the request named neither a count nor a viewer
  const char* event = "gift";  // its kind: "gift", "follow", "like"...
};

// Tells what became of gifts: each step's console line, those of one call in
// one write, and its entry in the page's feed.
class Teller {
 public:
  void tell(const EventRecord& gift, std::initializer_list<actions::Step> steps);
  // The configuration was applied again, or refused: the page reads it anew.
  void configChanged();
  Feed& feed() { return feed_; }
  const LastPresses& lastPresses() const { return lastPresses_; }

 private:
  Feed feed_;
  LastPresses lastPresses_;
};

}  // namespace gifts
