#include "actions/sound.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "console_capture.hpp"
#include "recording_platform.hpp"
#include "scratch.hpp"

namespace {

TEST(SoundCommands, Texts) {
  EXPECT_EQ(actions::soundAlias(0), "sound0");
  EXPECT_EQ(actions::soundAlias(12), "sound12");
  EXPECT_EQ(actions::mciOpenCommand("C:\\My Sounds\\rose.mp3", "sound0"),
            "open \"C:\\My Sounds\\rose.mp3\" type mpegvideo alias sound0");
  EXPECT_EQ(actions::mciVolumeCommand("sound0", 80), "setaudio sound0 volume to 800");
  EXPECT_EQ(actions::mciVolumeCommand("sound1", 0), "setaudio sound1 volume to 0");
  EXPECT_EQ(actions::mciVolumeCommand("sound1", 150), "setaudio sound1 volume to 1500");
  EXPECT_EQ(actions::mciVolumeCommand("sound1", -10), "setaudio sound1 volume to -100");
  EXPECT_EQ(actions::mciVolumeCommand("sound1", 2147483647), "setaudio sound1 volume to 21474836470");
  EXPECT_EQ(actions::mciPlayCommand("sound3"), "play sound3");
  EXPECT_EQ(actions::mciCloseCommand("sound3"), "close sound3");
}

// The alias counter lives as long as the process, and so does the thread
// that sends the commands, so each test follows the aliases it caused.
class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    actions::setSoundDeviceLifetime(lifetime);
    dir_ = testing_support::scratchDir("sound");
    std::ofstream(file("rose.mp3")) << "ID3";
    std::ofstream(file("with blank.mp3")) << "ID3";
  }
  void TearDown() override {
    actions::setSoundDeviceLifetime(actions::soundDeviceLifetime);
    std::filesystem::remove_all(dir_);
  }
  // Devices close this long after they started, instead of 10 s.
  static constexpr std::chrono::milliseconds lifetime{200};
  std::string file(const char* name) const { return (dir_ / name).string(); }
  static int number(const std::string& alias) { return std::stoi(alias.substr(5)); }
  static std::vector<std::string> commands(const std::vector<recording::MciCall>& calls) {
    std::vector<std::string> out;
    for (const auto& call : calls) out.push_back(call.command);
    return out;
  }

  std::filesystem::path dir_;
  testing_support::ConsoleCapture console_;
};

TEST_F(Sound, PlaysAtTheVolumeThenClosesWhenItsTimeIsUpFromTheSameThread) {
  actions::playSound(file("rose.mp3"), 80);
  // The sound plays before playSound returns.
  const std::string alias = recording::lastOpenedAlias();
  ASSERT_EQ(commands(recording::mciCallsFor(alias)),
            (std::vector<std::string>{"open \"C:\\stream\\" + file("rose.mp3") + "\" type mpegvideo alias " + alias,
                                      "setaudio " + alias + " volume to 800", "play " + alias}));
  EXPECT_EQ(console_.text(), "Lecture audio: " + file("rose.mp3") + " (volume: 80%)\n");

  ASSERT_TRUE(recording::waitForAlias(alias, 4, std::chrono::seconds(5)));
  const auto calls = recording::mciCallsFor(alias);
  EXPECT_EQ(calls[3].command, "close " + alias);
  const auto open = calls[2].at - calls[0].at;
  EXPECT_LT(open, std::chrono::milliseconds(100));
  const auto played = calls[3].at - calls[2].at;
  EXPECT_GE(played, lifetime - std::chrono::milliseconds(10));
  EXPECT_LT(played, lifetime + std::chrono::milliseconds(500));
  // MCI refuses a close from any thread but the one that opened the device.
  for (const auto& call : calls) EXPECT_EQ(call.thread, calls[0].thread) << call.command;
}

TEST_F(Sound, SoundsThatOverlapGetAliasesOfTheirOwn) {
  actions::playSound(file("rose.mp3"), 100);
  const std::string first = recording::lastOpenedAlias();
  actions::playSound(file("rose.mp3"), 100);
  const std::string second = recording::lastOpenedAlias();
  EXPECT_EQ(number(second), number(first) + 1);
  EXPECT_EQ(recording::mciCallsFor(first).size(), 3u);
  EXPECT_EQ(recording::mciCallsFor(second).size(), 3u);
}

TEST_F(Sound, SlowStartDoesNotHoldTheGiftAndTheDeviceIsStillClosed) {
  std::atomic<bool> opening{false};
  recording::answerMci([&](const std::string& command) -> std::uint32_t {
    if (command.rfind("open ", 0) == 0) {
      opening = true;
      std::this_thread::sleep_for(std::chrono::seconds(3));
      opening = false;
    }
    return 0;
  });
  actions::playSound(file("rose.mp3"), 100);
  // Back to the gift while the device is still being opened.
  EXPECT_TRUE(opening.load());
  const std::string alias = recording::lastOpenedAlias();
  EXPECT_TRUE(recording::mciCallsFor(alias).size() <= 1);
  ASSERT_TRUE(recording::waitForAlias(alias, 4, std::chrono::seconds(10)));
  const auto calls = recording::mciCallsFor(alias);
  EXPECT_EQ(calls[3].command, "close " + alias);
  for (const auto& call : calls) EXPECT_EQ(call.thread, calls[0].thread) << call.command;
}

TEST_F(Sound, DueClosesGoBeforeWaitingStartsUnderAStreamOfSlowOpens) {
  using namespace std::chrono_literals;
  recording::answerMci([](const std::string& c) -> std::uint32_t {
    if (c.rfind("open ", 0) == 0) std::this_thread::sleep_for(100ms);
    return 0;
  });
  // A sound every 50 ms, each taking 100 ms to open: the starts queue up.
  std::vector<std::thread> senders;
  for (int i = 0; i < 15; ++i) {
    senders.emplace_back([this, i] {
      std::this_thread::sleep_for(i * 50ms);
      actions::playSound(file("rose.mp3"), 100);
    });
  }
  for (auto& sender : senders) sender.join();
  const std::string first = recording::mciCommands().front();
  const int base = number(first.substr(first.rfind(' ') + 1));
  for (int i = 0; i < 15; ++i) {
    const std::string alias = actions::soundAlias(base + i);
    ASSERT_TRUE(recording::waitForAlias(alias, 4, 10s)) << alias;
    const auto calls = recording::mciCallsFor(alias);
    // Played, then closed on time: at most one open in progress delays it.
    EXPECT_LT(calls[3].at - calls[2].at, lifetime + 100ms + 150ms) << alias;
  }
}

TEST_F(Sound, EmptyPathDoesNothing) {
  actions::playSound("", 100);
  EXPECT_TRUE(recording::mciCommands().empty());
  EXPECT_EQ(console_.text(), "");
}

TEST_F(Sound, MissingFileSendsNothingAndKeepsTheNextAlias) {
  actions::playSound(file("rose.mp3"), 100);
  const int first = number(recording::lastOpenedAlias());
  actions::playSound(file("missing.mp3"), 100);
  actions::playSound(file("rose.mp3"), 100);
  EXPECT_EQ(number(recording::lastOpenedAlias()), first + 1);
  EXPECT_NE(console_.text().find("Fichier audio non trouve : " + file("missing.mp3") + "\n"), std::string::npos);
}

TEST_F(Sound, RefusedOpenUsesUpItsAlias) {
  recording::answerMci([](const std::string& c) { return c.rfind("open", 0) == 0 ? 275u : 0u; });
  actions::playSound(file("rose.mp3"), 100);
  const std::string first = recording::lastOpenedAlias();
  actions::playSound(file("rose.mp3"), 100);
  const std::string second = recording::lastOpenedAlias();
  EXPECT_EQ(number(second), number(first) + 1);
  EXPECT_EQ(recording::mciCallsFor(first).size(), 1u);  // the open, nothing else
  EXPECT_EQ(console_.text(), "Erreur ouverture audio: texte MCI 275\nErreur ouverture audio: texte MCI 275\n");
}

TEST_F(Sound, RefusedVolumeStillPlays) {
  recording::answerMci([](const std::string& c) { return c.rfind("setaudio", 0) == 0 ? 282u : 0u; });
  actions::playSound(file("rose.mp3"), 150);
  EXPECT_EQ(recording::mciCallsFor(recording::lastOpenedAlias()).size(), 3u);
  EXPECT_EQ(console_.text(), "Lecture audio: " + file("rose.mp3") + " (volume: 150%)\n");
}

TEST_F(Sound, RefusedPlayClosesAtOnceFromTheSameThread) {
  recording::answerMci([](const std::string& c) { return c.rfind("play", 0) == 0 ? 999u : 0u; });
  actions::playSound(file("with blank.mp3"), 100);
  const auto calls = recording::mciCallsFor(recording::lastOpenedAlias());
  ASSERT_EQ(calls.size(), 4u);
  // A path with blanks stays one word between its quotes.
  EXPECT_NE(calls[0].command.find("\"C:\\stream\\" + file("with blank.mp3") + "\" type"), std::string::npos);
  EXPECT_EQ(calls[3].command.rfind("close sound", 0), 0u);
  EXPECT_EQ(calls[3].thread, calls[0].thread);
  // Closed once: no second close when its time would have been up.
  EXPECT_FALSE(recording::waitForAlias(recording::lastOpenedAlias(), 5, 2 * lifetime));
  // No MCI text for that code: the code itself is shown.
  EXPECT_EQ(console_.text(), "Erreur lecture audio: erreur MCI 999\n");
}

TEST_F(Sound, NoFullPathCountsAsMissing) {
  recording::answerFullPath([](const std::string&) { return std::nullopt; });
  actions::playSound(file("rose.mp3"), 100);
  EXPECT_TRUE(recording::mciCommands().empty());
  EXPECT_EQ(console_.text(), "Fichier audio non trouve : " + file("rose.mp3") + "\n");
}

}  // namespace
