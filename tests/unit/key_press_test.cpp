#include "actions/key_press.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "recording_platform.hpp"
#include "support.hpp"

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
      running.push_back(std::async(std::launch::async, [=] { return actions::pressKey("Gift", gift, arrived); }));
    }
    std::vector<actions::KeyOutcome> outcomes;
    for (auto& r : running) outcomes.push_back(r.get());
    return outcomes;
  }

  testing_support::ConsoleCapture console_;
};

TEST_F(KeyPress, EachOutcomeHasItsLine) {
  EXPECT_EQ(press(key("Ctrl+A", 80ms)), actions::KeyOutcome::Pressed);
  const auto presses = recording::presses();
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].chord, (Chord{Key::Ctrl, Key::A}));
  EXPECT_GE(presses[0].up - presses[0].down, 80ms);
  // A key the keyboard lacks is as unsupported as an unknown target.
  recording::answerKeys([](std::span<const Key> chord) {
    using O = platform::KeyResult::Outcome;
    return platform::KeyResult{chord[0] == Key::Z                ? O::NoSuchKey
                               : chord[0] == keyAfter(Key::A, 1) ? O::Failed
                                                                 : O::Pressed,
                               "aucun affichage X"};
  });
  EXPECT_EQ(press(key("ab")), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(press(key("z")), actions::KeyOutcome::Unsupported);
  EXPECT_EQ(press(key("b")), actions::KeyOutcome::Failed);
  EXPECT_EQ(recording::presses().size(), 1u);
  EXPECT_EQ(console_.lines(),
            (std::vector<std::string>{"Touche 'Ctrl+A' pressee", "Touche non supportee: ab", "Touche non supportee: z",
                                      "Touche non pressee: b (aucun affichage X)"}));
}

TEST_F(KeyPress, PressesSharingAKeyTakeTurnsWithAGap) {
  const auto outcomes = pressAtOnce(
      {key("g", 20ms), key("G", 20ms), key("ctrl+g", 20ms), key("g", 20ms, 2), key("ctrl+n", 20ms), key("n", 20ms)});
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), actions::KeyOutcome::Pressed), 6);
  auto presses = recording::presses();
  ASSERT_EQ(presses.size(), 7u);
  std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.down < b.down; });
  for (std::size_t i = 0; i < presses.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const auto& [earlier, later] = std::tie(presses[j].chord, presses[i].chord);
      if (std::find_first_of(later.begin(), later.end(), earlier.begin(), earlier.end()) != later.end()) {
        EXPECT_GE(presses[i].down - presses[j].up, actions::keyGap) << "press " << i << " after " << j;
      }
    }
  }
}

TEST_F(KeyPress, OtherKeysDoNotWait) {
  // n stays down until g has been pressed.
  std::promise<void> nDown, gDown;
  auto gPressed = gDown.get_future();
  bool gCameWhileNWasDown = false;
  recording::answerKeys([&](std::span<const Key> chord) {
    if (chord[0] == keyAfter(Key::A, 6)) gDown.set_value();
    if (chord[0] != keyAfter(Key::A, 6)) {
      nDown.set_value();
      gCameWhileNWasDown = gPressed.wait_for(5s) == std::future_status::ready;
    }
    return platform::KeyResult{platform::KeyResult::Outcome::Pressed, {}};
  });
  auto n = std::async(std::launch::async, [] { return press(key("n")); });
  nDown.get_future().wait();
  EXPECT_EQ(press(key("g")), actions::KeyOutcome::Pressed);
  EXPECT_EQ(n.get(), actions::KeyOutcome::Pressed);
  EXPECT_TRUE(gCameWhileNWasDown);
}

TEST_F(KeyPress, APressThatCannotStartInTimeIsNotMade) {
  // Presses start at 0 and 330 ms; the next would start at 660 ms, past the
  // limit of 500 ms.
  actions::setKeyPacing(actions::keyGap, 500ms);
  const auto outcomes = pressAtOnce({key("g", 300ms), key("g", 300ms), key("g", 300ms)});
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), actions::KeyOutcome::QueueFull), 1);
  EXPECT_EQ(recording::presses().size(), 2u);
  EXPECT_EQ(console_.count("File d'attente pleine: Gift"), 1u);
  // A repeat stops at the limit too.
  recording::reset();
  EXPECT_EQ(press(key("n", 300ms, 3)), actions::KeyOutcome::QueueFull);
  EXPECT_EQ(recording::presses().size(), 2u);
}

}  // namespace
