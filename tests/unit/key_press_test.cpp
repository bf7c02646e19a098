#include "actions/key_press.hpp"

#include <gtest/gtest.h>

#include "console_capture.hpp"
#include "recording_platform.hpp"

namespace {

TEST(KeyTarget, LettersAreLeftToTheLayout) {
  for (const char* target : {"a", "A", "z", "Z", "g"}) {
    const auto key = actions::parseKeyTarget(target);
    ASSERT_TRUE(key) << target;
    EXPECT_EQ(key->letter, static_cast<char>(std::tolower(target[0]))) << target;
  }
}

TEST(KeyTarget, DigitsAndNamedKeys) {
  struct Case {
    const char* target;
    std::uint8_t virtualKey;
    bool extended;
  };
  const Case cases[] = {
      {"0", 0x30, false},     {"9", 0x39, false},       {"space", 0x20, false},   {"SPACE", 0x20, false},
      {"Enter", 0x0D, false}, {"tab", 0x09, false},     {"escape", 0x1B, false},  {"backspace", 0x08, false},
      {"delete", 0x2E, true}, {"insert", 0x2D, true},   {"home", 0x24, true},     {"end", 0x23, true},
      {"pageup", 0x21, true}, {"pagedown", 0x22, true}, {"up", 0x26, true},       {"down", 0x28, true},
      {"left", 0x25, true},   {"right", 0x27, true},    {"f1", 0x70, false},      {"F12", 0x7B, false},
      {"f13", 0x7C, false},   {"f24", 0x87, false},     {"numpad0", 0x60, false}, {"NumPad9", 0x69, false},
  };
  for (const auto& c : cases) {
    const auto key = actions::parseKeyTarget(c.target);
    ASSERT_TRUE(key) << c.target;
    EXPECT_EQ(key->letter, 0) << c.target;
    EXPECT_EQ(key->virtualKey, c.virtualKey) << c.target;
    EXPECT_EQ(key->extended, c.extended) << c.target;
  }
}

TEST(KeyTarget, EverythingElseIsUnsupported) {
  for (const char* target : {"", " ", "!", "ab", "f0", "f25", "f01", "numpad10", "numpad", "spacebar", " space",
                             "\xC3\xA9", "\n", "ctrl+a"}) {
    EXPECT_FALSE(actions::parseKeyTarget(target)) << '"' << target << '"';
  }
}

class KeyPress : public ::testing::Test {
 protected:
  void SetUp() override { recording::reset(); }
  testing_support::ConsoleCapture console_;
};

TEST_F(KeyPress, LetterGoesDownHeldFiftyMillisecondsThenUp) {
  EXPECT_TRUE(actions::pressKey("A"));
  const auto events = recording::keyEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].virtualKey, 0x41);
  EXPECT_EQ(events[0].scan, 0x41 ^ 0x80);  // the scan code of that key
  EXPECT_EQ(events[0].flags, 0u);
  EXPECT_EQ(events[1].virtualKey, 0x41);
  EXPECT_EQ(events[1].scan, events[0].scan);
  EXPECT_EQ(events[1].flags, 2u);
  EXPECT_GE(events[1].at - events[0].at, std::chrono::milliseconds(50));
  EXPECT_EQ(console_.text(), "Touche 'A' pressee\n");
}

TEST_F(KeyPress, ExtendedKeysCarryTheFlagBothWays) {
  EXPECT_TRUE(actions::pressKey("left"));
  const auto events = recording::keyEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].flags, 1u);
  EXPECT_EQ(events[1].flags, 3u);
}

TEST_F(KeyPress, UnsupportedTargetSendsNothing) {
  EXPECT_FALSE(actions::pressKey("ab"));
  EXPECT_FALSE(actions::pressKey(""));
  EXPECT_TRUE(recording::keyEvents().empty());
  EXPECT_EQ(console_.text(), "Touche non supportee: ab\nTouche non supportee: \n");
}

TEST_F(KeyPress, LetterTheLayoutCannotTypeIsUnsupported) {
  recording::answerKeyScan([](char) -> std::int16_t { return -1; });
  EXPECT_FALSE(actions::pressKey("q"));
  EXPECT_TRUE(recording::keyEvents().empty());
  EXPECT_EQ(console_.text(), "Touche non supportee: q\n");
}

TEST_F(KeyPress, LayoutDecidesTheLetterKey) {
  // On an AZERTY layout the letter a is on the key VK_Q.
  recording::answerKeyScan([](char c) -> std::int16_t { return c == 'a' ? 0x51 : -1; });
  EXPECT_TRUE(actions::pressKey("a"));
  ASSERT_EQ(recording::keyEvents().size(), 2u);
  EXPECT_EQ(recording::keyEvents()[0].virtualKey, 0x51);
}

}  // namespace
