#include "actions/key_press.hpp"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "recording_platform.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;
using platform::Key;
using Outcome = actions::KeyOutcome;
using Chord = std::vector<Key>;
const Key G = platform::keyAfter(Key::A, 6), N = platform::keyAfter(Key::A, 13);

TEST(KeyTarget, NamesTheKeysAndNothingElse) {
  const std::pair<const char*, Chord> keys[] = {
      {"G", {G}},
      {"9", {Key::Digit9}},
      {"SPACE", {Key::Space}},
      {"f24", {Key::F24}},
      {"NumPad9", {Key::Numpad9}},
      {"ctrl+shift+f1", {Key::Ctrl, Key::Shift, Key::F1}},
      {"Win+ALT+left", {Key::Win, Key::Alt, Key::Left}},
  };
  for (const auto& [target, chord] : keys) EXPECT_EQ(actions::parseKeyTarget(target), chord) << target;
  for (const char* target : {"", " ", "!", "ab", "f0", "f25", "f01", "numpad10", " space", "\xC3\xA9", "ctrl", "ctrl+",
                             "+a", "a+ctrl", "ctrl+ctrl+a", "ctrl+ab", "ctrl +a", "control+a", "numpad!"}) {
    EXPECT_FALSE(actions::parseKeyTarget(target)) << '"' << target << '"';
  }
}

class KeyPress : public ::testing::Test {
 protected:
  void SetUp() override { recording::reset(); }
  void TearDown() override { actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit); }

  static config::GiftAction key(const std::string& target, std::chrono::milliseconds hold = 20ms, int repeat = 1) {
    return {"key", target, "", 100, hold, repeat};
  }
  // The gifts at once, each from a thread of its own.
  static std::vector<Outcome> press(const std::vector<config::GiftAction>& gifts) {
    std::vector<std::future<Outcome>> running;
    for (const auto& gift : gifts) {
      running.push_back(std::async(std::launch::async, [=, at = actions::Clock::now()] {
        return actions::pressKey("Gift", gift, at, [](actions::Step) {});
      }));
    }
    std::vector<Outcome> outcomes;
    for (auto& r : running) outcomes.push_back(r.get());
    return outcomes;
  }
};

TEST_F(KeyPress, PressesSharingAKeyTakeTurnsWithAGapWhileOtherKeysGoOn) {
  // The first n and g each wait until the other is down: if one key waited for
  // the other, neither would come. Nothing else presses n (no chord waits in a circle).
  std::promise<void> nDown, gDown;
  std::once_flag nOnce, gOnce;
  auto nIsDown = nDown.get_future().share(), gIsDown = gDown.get_future().share();
  recording::answerKeys([&](std::span<const Key> chord) {
    const auto meet = [](std::promise<void>& mine, std::once_flag& once, std::shared_future<void>& other) {
      std::call_once(once, [&] { mine.set_value(); });
      EXPECT_EQ(other.wait_for(5s), std::future_status::ready);
    };
    if (chord[0] == N) meet(nDown, nOnce, gIsDown);
    if (chord[0] == G) meet(gDown, gOnce, nIsDown);
    return Result<platform::KeyPress>(platform::KeyPress::Pressed);
  });
  EXPECT_EQ(press({key("n"), key("g"), key("G", 20ms, 2)}), std::vector<Outcome>(3, Outcome::Pressed));
  // A chord with a modifier has the keyboard to itself: ctrl+shift+f1 with w would be ctrl+shift+w.
  EXPECT_EQ(press({key("ctrl+shift+f1", 100ms), key("w"), key("x"), key("alt+1", 100ms), key("f4"), key("w")}),
            std::vector<Outcome>(6, Outcome::Pressed));
  auto presses = recording::presses();
  ASSERT_EQ(presses.size(), 10u);
  std::sort(presses.begin(), presses.end(), [](const auto& a, const auto& b) { return a.down < b.down; });
  for (std::size_t i = 0; i < presses.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const Chord &later = presses[i].chord, &earlier = presses[j].chord;  // more than a key: a modifier
      if (later.size() + earlier.size() > 2 || std::ranges::find_first_of(later, earlier) != later.end()) {
        EXPECT_GE(presses[i].down - presses[j].up, actions::keyGap) << "press " << i << " after " << j;
      }
    }
  }
}

TEST_F(KeyPress, AGiftThatCannotStartInTimeIsNotMadeButOneStartedIsMadeWhole) {
  // Presses start at 0 and 630 ms; the next would start at 1260 ms, past the limit of 950 ms.
  actions::setKeyPacing(actions::keyGap, 950ms);
  const auto outcomes = press({key("g", 600ms), key("g", 600ms), key("g", 600ms)});
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome::QueueFull), 1);
  EXPECT_EQ(press({key("n", 600ms, 3)}), std::vector{Outcome::Pressed});  // its presses go past the limit
  EXPECT_EQ(recording::presses().size(), 5u);
}

TEST_F(KeyPress, EveryKeyOfTheProgramsIsLetGoWithinItsHoldAndTheGrace) {
  actions::setKeyPacing(actions::keyGap, actions::keyQueueLimit, 300ms);
  std::string told;  // how long g was down, with 50 ms of hold, after something happened while it was
  const auto heldFor = [&](std::function<void()> during) {
    recording::answerKeys(
        [&](std::span<const Key>) { return during(), Result<platform::KeyPress>(platform::KeyPress::Pressed); });
    const auto outcome =
        actions::pressKey("Gift", key("g", 50ms), actions::Clock::now(), [&](actions::Step s) { told = s.detail; });
    const auto up = recording::presses().back().up - recording::presses().back().down;
    return outcome == Outcome::Pressed ? std::chrono::duration_cast<std::chrono::milliseconds>(up) : -1ms;
  };
  // The streamer takes hold of the key meanwhile: it is theirs to let go, for a while.
  const auto taken = heldFor([] { recording::streamerHolds({G}); });
  EXPECT_TRUE(taken >= 300ms && taken < 900ms) << taken.count();
  recording::streamerHolds({});  // a release the system refuses is tried again, and told once the time is up
  const auto again = heldFor([] { recording::refuseReleases(2); });
  EXPECT_TRUE(again >= 50ms && again < 290ms) << again.count();
  EXPECT_EQ(std::make_pair(heldFor([] { recording::refuseReleases(1000); }), told),
            std::make_pair(-1ms, std::string("relachement refuse")));
}

}  // namespace
