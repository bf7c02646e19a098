#include "actions/key_press.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "console_capture.hpp"
#include "recording_platform.hpp"

namespace {

using namespace std::chrono_literals;
using platform::Key;
using platform::keyAfter;
using Chord = std::vector<Key>;

TEST(KeyTarget, NamesTheKeys) {
  const std::pair<const char*, Chord> cases[] = {
      {"a", {Key::A}},
      {"G", {keyAfter(Key::A, 6)}},
      {"0", {Key::Digit0}},
      {"SPACE", {Key::Space}},
      {"pagedown", {Key::PageDown}},
      {"F12", {keyAfter(Key::F1, 11)}},
      {"f24", {Key::F24}},
      {"NumPad9", {Key::Numpad9}},
      {"ctrl+shift+f1", {Key::Ctrl, Key::Shift, Key::F1}},
      {"ALT+1", {Key::Alt, keyAfter(Key::Digit0, 1)}},
      {"Win+Shift+left", {Key::Win, Key::Shift, Key::Left}},
  };
  for (const auto& [target, chord] : cases) EXPECT_EQ(actions::parseKeyTarget(target), chord) << target;
}

TEST(KeyTarget, EverythingElseIsUnsupported) {
  for (const char* target : {"", " ", "!", "ab", "f0", "f25", "f01", "numpad10", "spacebar", " space", "\xC3\xA9",
                             "ctrl", "ctrl+", "+a", "a+ctrl", "ctrl+ctrl+a", "ctrl+ab", "ctrl +a", "control+a"}) {
    EXPECT_FALSE(actions::parseKeyTarget(target)) << '"' << target << '"';
  }
}

class KeyPress : public ::testing::Test {
 protected:
  void SetUp() override { recording::reset(); }
  void TearDown() override { actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit); }

  static config::GiftAction key(const std::string& target, std::chrono::milliseconds hold = 50ms, int repeat = 1) {
    config::GiftAction gift{"key", target, "", 100};
    gift.hold = hold;
    gift.repeat = repeat;
    return gift;
  }
  static actions::KeyOutcome press(const config::GiftAction& gift) {
    return actions::pressKey("Gift", gift, actions::Clock::now());
  }
  // Sends the gifts at once, each from a thread of its own.
  static std::vector<actions::KeyOutcome> pressAtOnce(const std::vector<config::GiftAction>& gifts) {
    const auto arrived = actions::Clock::now();
    std::vector<std::future<actions::KeyOutcome>> running;
    for (const auto& gift : gifts) {
      running.push_back(
          std::async(std::launch::async, [gift, arrived] { return actions::pressKey("Gift", gift, arrived); }));
    }
    std::vector<actions::KeyOutcome> outcomes;
    for (auto& r : running) outcomes.push_back(r.get());
    return outcomes;
  }
  static std::vector<recording::Press> pressesInOrder() {
    auto presses = recording::presses();
    std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.down < b.down; });
    return presses;
  }

  testing_support::ConsoleCapture console_;
};

TEST_F(KeyPress, TheChordIsHeldItsTime) {
  EXPECT_EQ(press(key("Ctrl+A", 80ms)), actions::KeyOutcome::Pressed);
  const auto presses = recording::presses();
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].chord, (Chord{Key::Ctrl, Key::A}));
  EXPECT_EQ(presses[0].hold, 80ms);
  EXPECT_GE(presses[0].up - presses[0].down, 80ms);
  EXPECT_EQ(console_.text(), "Touche 'Ctrl+A' pressee\n");
}

TEST_F(KeyPress, UnsupportedTargetOrKeyTheKeyboardLacksPressesNothing) {
  recording::answerKeys([](std::span<const Key> chord) {
    return platform::KeyResult{
        chord[0] == Key::Z ? platform::KeyResult::Outcome::NoSuchKey : platform::KeyResult::Outcome::Pressed, {}};
  });
  EXPECT_EQ(press(key("ab")), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(press(key("")), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(press(key("z")), actions::KeyOutcome::Unsupported);
  EXPECT_TRUE(recording::presses().empty());
  EXPECT_EQ(console_.text(), "Touche non supportee: ab\nTouche non supportee: \nTouche non supportee: z\n");
}

TEST_F(KeyPress, KeyboardThatCannotPressSaysWhy) {
  recording::answerKeys([](std::span<const Key>) {
    return platform::KeyResult{platform::KeyResult::Outcome::Failed, "aucun affichage X"};
  });
  EXPECT_EQ(press(key("g")), actions::KeyOutcome::Failed);
  EXPECT_EQ(console_.text(), "Touche non pressee: g (aucun affichage X)\n");
}

TEST_F(KeyPress, PressesOfOneKeyTakeTurnsWithAGapWhileOtherKeysOverlap) {
  const auto outcomes = pressAtOnce(
      {key("g", 20ms), key("G", 20ms), key("ctrl+g", 20ms), key("g", 20ms, 2), key("n", 100ms), key("ctrl+n", 20ms)});
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), actions::KeyOutcome::Pressed), 6);
  const auto presses = pressesInOrder();
  ASSERT_EQ(presses.size(), 7u);
  for (std::size_t i = 0; i < presses.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const bool shared = std::any_of(presses[i].chord.begin(), presses[i].chord.end(), [&](Key k) {
        return std::find(presses[j].chord.begin(), presses[j].chord.end(), k) != presses[j].chord.end();
      });
      if (shared) {
        EXPECT_GE(presses[i].down - presses[j].up, actions::keyGap) << "press " << i << " after " << j;
      }
    }
  }
  // n is held while the g presses go on.
  const auto n = std::find_if(presses.begin(), presses.end(),
                              [](const auto& p) { return p.chord == Chord{keyAfter(Key::A, 13)}; });
  ASSERT_NE(n, presses.end());
  EXPECT_TRUE(std::any_of(presses.begin(), presses.end(),
                          [&](const auto& p) { return p.chord != n->chord && p.down < n->up && p.up > n->down; }));
}

TEST_F(KeyPress, APressThatCannotStartInTimeIsNotMade) {
  // Within 200 ms: a press at 0 and one at 130 ms; the next would start at
  // 260 ms.
  actions::setKeyPacing(actions::keyGap, 200ms);
  const auto outcomes = pressAtOnce({key("g", 100ms), key("g", 100ms), key("g", 100ms), key("g", 100ms)});
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), actions::KeyOutcome::Pressed), 2);
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), actions::KeyOutcome::QueueFull), 2);
  EXPECT_EQ(recording::presses().size(), 2u);
  EXPECT_EQ(console_.count("File d'attente pleine: Gift"), 2u);
  // A repeat stops at the limit too.
  recording::reset();
  EXPECT_EQ(press(key("n", 100ms, 3)), actions::KeyOutcome::QueueFull);
  EXPECT_EQ(recording::presses().size(), 2u);
}

}  // namespace
