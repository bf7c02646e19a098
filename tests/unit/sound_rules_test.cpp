#include "actions/sound_rules.hpp"

#include <gtest/gtest.h>

namespace {

using actions::SoundRules;
using config::SoundMode;
using Skip = SoundRules::Skip;
using namespace std::chrono_literals;

TEST(SoundRules, EachModeGoesWithItsGiftsOwnSoundsAndNoMoreThanEightPlay) {
  const SoundRules::Clock::time_point t0{};
  SoundRules rules;
  // Over its own, or instead of them, or not at all while one plays.
  EXPECT_TRUE(rules.arrive(1, "A", SoundMode::Overlap, t0).start);
  EXPECT_TRUE(rules.arrive(2, "A", SoundMode::Overlap, t0).start);
  const auto replacing = rules.arrive(3, "A", SoundMode::Replace, t0);
  EXPECT_TRUE(replacing.start);
  EXPECT_EQ(replacing.stop, (std::vector<SoundRules::Ticket>{1, 2}));
  EXPECT_EQ(rules.arrive(4, "A", SoundMode::Skip, t0).skipped, Skip::OwnPlaying);
  EXPECT_TRUE(rules.arrive(5, "B", SoundMode::Skip, t0).start);  // another gift's sound is not its own
  // In turn: the second and third wait for the first, then each for the one before.
  EXPECT_TRUE(rules.arrive(6, "Q", SoundMode::Queue, t0).start);
  for (const SoundRules::Ticket t : {7, 8}) {
    const auto waits = rules.arrive(t, "Q", SoundMode::Queue, t0);
    EXPECT_FALSE(waits.start);
    EXPECT_EQ(waits.skipped, Skip::None);
  }
  EXPECT_EQ(rules.ended(6, t0 + 3s).start, (std::vector<SoundRules::Ticket>{7}));
  EXPECT_TRUE(rules.ended(5, t0 + 4s).start.empty());  // another gift's end is not its turn
  // The third has waited past 10 s when the second ends: given up.
  const auto late = rules.ended(7, t0 + 11s);
  EXPECT_TRUE(late.start.empty());
  EXPECT_EQ(late.tooLong, (std::vector<SoundRules::Ticket>{8}));
  // Eight at once, then none more, whatever its mode; one ends, one more.
  for (SoundRules::Ticket t = 10; rules.playing() < actions::maxSoundsAtOnce; ++t) {
    EXPECT_TRUE(rules.arrive(t, "C", SoundMode::Overlap, t0).start);
  }
  EXPECT_EQ(rules.arrive(30, "D", SoundMode::Queue, t0).skipped, Skip::TooMany);
  EXPECT_EQ(rules.arrive(31, "D", SoundMode::Overlap, t0).skipped, Skip::TooMany);
  rules.ended(10, t0);
  EXPECT_TRUE(rules.arrive(32, "D", SoundMode::Overlap, t0).start);
  // Stopping all gives up those that wait too.
  rules.arrive(33, "D", SoundMode::Queue, t0);
  EXPECT_EQ(rules.stopAll().size(), actions::maxSoundsAtOnce + 1);
  EXPECT_EQ(rules.playing(), 0u);
}

}  // namespace
