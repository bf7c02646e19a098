#include "platform/windows/key_edges.hpp"

#include <gtest/gtest.h>

namespace {

using platform::win::VirtualKey;

// The system as a test has it: it takes at most `takes` events of each call,
// and keeps each event in order.
struct System {
  unsigned takes = 100;
  std::vector<std::pair<std::uint8_t, bool>> events;
  platform::win::EdgeCalls calls() {
    return {[this](std::span<const VirtualKey> keys, bool up) {
              const unsigned taken = std::min<unsigned>(takes, static_cast<unsigned>(keys.size()));
              for (unsigned i = 0; i < taken; ++i) events.emplace_back(keys[up ? keys.size() - 1 - i : i].code, up);
              return taken;
            },
            [] { return std::string("bloque"); }};
  }
};

TEST(KeyEdges, WhatTheSystemDoesNotTakeIsLetGoOrKeptForTheEnd) {
  System system;
  platform::win::HeldKeys keys(system.calls());
  const VirtualKey ctrl{0xA2, false}, shift{0xA0, false}, f1{0x70, false};
  const std::vector<VirtualKey> chord{ctrl, shift, f1};
  system.takes = 2;  // a press taken in part is let go at once
  EXPECT_EQ(keys.down(chord).reason(), "le systeme n'a pris que 2 des 3 appuis (bloque)");
  using Events = std::vector<std::pair<std::uint8_t, bool>>;
  EXPECT_EQ(system.events, (Events{{0xA2, false}, {0xA0, false}, {0xA0, true}, {0xA2, true}}));
  system.events.clear();
  system.takes = 100;
  ASSERT_TRUE(keys.down(chord));
  system.takes = 1;  // only f1's release is taken: ctrl and shift stay for the end
  EXPECT_EQ(keys.up(chord).reason(), "le systeme n'a pas pris le relachement des touches (bloque)");
  system.takes = 100;
  keys.releaseAll();
  EXPECT_EQ(system.events,
            (Events{{0xA2, false}, {0xA0, false}, {0x70, false}, {0x70, true}, {0xA0, true}, {0xA2, true}}));
  EXPECT_EQ(keys.down(chord).reason(), "le programme se ferme");
}

}  // namespace
