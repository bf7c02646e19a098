#include "actions/key_press.hpp"

#include <gtest/gtest.h>

#include "console_capture.hpp"
#include "recording_platform.hpp"

namespace {

using platform::Key;
using platform::keyAfter;

TEST(KeyTarget, NamesTheKey) {
  const std::pair<const char*, Key> cases[] = {
      {"a", Key::A},
      {"G", keyAfter(Key::A, 6)},
      {"z", Key::Z},
      {"0", Key::Digit0},
      {"7", keyAfter(Key::Digit0, 7)},
      {"space", Key::Space},
      {"SPACE", Key::Space},
      {"Enter", Key::Enter},
      {"escape", Key::Escape},
      {"pagedown", Key::PageDown},
      {"left", Key::Left},
      {"f1", Key::F1},
      {"F12", keyAfter(Key::F1, 11)},
      {"f24", Key::F24},
      {"numpad0", Key::Numpad0},
      {"NumPad9", Key::Numpad9},
  };
  for (const auto& [target, key] : cases) EXPECT_EQ(actions::parseKeyTarget(target), key) << target;
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

TEST_F(KeyPress, OneKeyHeldFiftyMilliseconds) {
  EXPECT_EQ(actions::pressKey("A"), actions::KeyOutcome::Pressed);
  const auto presses = recording::presses();
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].chord, std::vector<Key>{Key::A});
  EXPECT_EQ(presses[0].hold, std::chrono::milliseconds(50));
  EXPECT_GE(presses[0].up - presses[0].down, std::chrono::milliseconds(50));
  EXPECT_EQ(console_.text(), "Touche 'A' pressee\n");
}

TEST_F(KeyPress, UnsupportedTargetOrKeyTheKeyboardLacksPressesNothing) {
  recording::answerKeys([](std::span<const Key> chord) {
    return platform::KeyResult{
        chord[0] == Key::Z ? platform::KeyResult::Outcome::NoSuchKey : platform::KeyResult::Outcome::Pressed, {}};
  });
  EXPECT_EQ(actions::pressKey("ab"), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(actions::pressKey(""), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(actions::pressKey("z"), actions::KeyOutcome::Unsupported);
  EXPECT_TRUE(recording::presses().empty());
  EXPECT_EQ(console_.text(), "Touche non supportee: ab\nTouche non supportee: \nTouche non supportee: z\n");
}

TEST_F(KeyPress, KeyboardThatCannotPressSaysWhy) {
  recording::answerKeys([](std::span<const Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Failed, "aucun affichage X"};
  });
  EXPECT_EQ(actions::pressKey("g"), actions::KeyOutcome::Failed);
  EXPECT_EQ(console_.text(), "Touche non pressee: g (aucun affichage X)\n");
}

}  // namespace
