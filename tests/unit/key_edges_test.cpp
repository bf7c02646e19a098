#include "platform/windows/key_edges.hpp"

#include <gtest/gtest.h>

namespace {

using platform::win::VirtualKey;

TEST(KeyEdges, WhatTheSystemDoesNotTakeIsLetGoOrKeptForTheEnd) {
  unsigned takes = 2;  // the system takes at most so many events of a call
  std::string events;  // each event's key in hexadecimal, + down, - up
  const auto send = [&](std::span<const VirtualKey> edge, bool up) {
    const unsigned taken = std::min<unsigned>(takes, static_cast<unsigned>(edge.size()));
    for (unsigned i = 0; i < taken; ++i) {
      const unsigned code = edge[up ? edge.size() - 1 - i : i].code;
      ((events += "0123456789ABCDEF"[code >> 4]) += "0123456789ABCDEF"[code & 15]) += up ? "- " : "+ ";
    }
    return taken;
  };
  platform::win::HeldKeys keys({send, [] { return std::string("bloque"); }});
  const std::vector<VirtualKey> chord{{0xA2, false}, {0xA0, false}, {0x70, false}};         // ctrl+shift+f1
  EXPECT_EQ(keys.down(chord).reason(), "le systeme n'a pris que 2 des 3 appuis (bloque)");  // let go at once
  takes = 100;
  ASSERT_TRUE(keys.down(chord));
  takes = 1;  // only f1's release is taken: ctrl and shift stay for the end
  EXPECT_EQ(keys.up(chord).reason(), "le systeme n'a pas pris le relachement des touches (bloque)");
  takes = 100, keys.releaseAll();
  EXPECT_EQ(keys.down(chord).reason(), "le programme se ferme");
  EXPECT_EQ(events, "A2+ A0+ A0- A2- A2+ A0+ 70+ 70- A0- A2- ");
}

}  // namespace
