#include "actions/sound.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

// The alias counter lives as long as the process, so each test reads the
// number it starts from off the first open command.
class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    dir_ = testing_support::scratchDir("sound");
    std::ofstream(file("rose.mp3")) << "ID3";
    std::ofstream(file("with blank.mp3")) << "ID3";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string file(const char* name) const { return (dir_ / name).string(); }
  static int aliasNumber(const std::string& openCommand) {
    return std::stoi(openCommand.substr(openCommand.rfind("alias sound") + 11));
  }

  std::filesystem::path dir_;
  testing_support::ConsoleCapture console_;
};

TEST_F(Sound, PlaysAtTheVolumeAndClosesTenSecondsLater) {
  actions::playSound(file("rose.mp3"), 80);
  ASSERT_TRUE(recording::waitForMciCount(4));
  const auto sent = recording::mciCommands();
  const std::string alias = "sound" + std::to_string(aliasNumber(sent[0]));
  EXPECT_EQ(sent[0], "open \"C:\\stream\\" + file("rose.mp3") + "\" type mpegvideo alias " + alias);
  EXPECT_EQ(sent[1], "setaudio " + alias + " volume to 800");
  EXPECT_EQ(sent[2], "play " + alias);
  EXPECT_EQ(sent[3], "close " + alias);
  const auto waits = recording::closeWaits();
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_GT(waits[0].wait, std::chrono::milliseconds(9900));
  EXPECT_LE(waits[0].wait, std::chrono::seconds(10));
  EXPECT_EQ(console_.text(), "Lecture audio: " + file("rose.mp3") + " (volume: 80%)\n");
}

TEST_F(Sound, EmptyPathDoesNothing) {
  actions::playSound("", 100);
  EXPECT_TRUE(recording::mciCommands().empty());
  EXPECT_EQ(console_.text(), "");
}

TEST_F(Sound, MissingFileSendsNothingAndKeepsTheNextAlias) {
  actions::playSound(file("rose.mp3"), 100);
  ASSERT_TRUE(recording::waitForMciCount(4));
  const int first = aliasNumber(recording::mciCommands()[0]);
  recording::reset();
  actions::playSound(file("missing.mp3"), 100);
  EXPECT_TRUE(recording::mciCommands().empty());
  actions::playSound(file("rose.mp3"), 100);
  ASSERT_TRUE(recording::waitForMciCount(1));
  EXPECT_EQ(aliasNumber(recording::mciCommands()[0]), first + 1);
  EXPECT_NE(console_.text().find("Fichier audio non trouve : " + file("missing.mp3") + "\n"), std::string::npos);
}

TEST_F(Sound, RefusedOpenUsesUpItsAlias) {
  recording::answerMci([](const std::string& c) { return c.rfind("open", 0) == 0 ? 275u : 0u; });
  actions::playSound(file("rose.mp3"), 100);
  actions::playSound(file("rose.mp3"), 100);
  const auto sent = recording::mciCommands();
  ASSERT_EQ(sent.size(), 2u);  // two opens, nothing else
  EXPECT_EQ(aliasNumber(sent[1]), aliasNumber(sent[0]) + 1);
  EXPECT_EQ(console_.text(), "Erreur ouverture audio: texte MCI 275\nErreur ouverture audio: texte MCI 275\n");
}

TEST_F(Sound, RefusedVolumeStillPlays) {
  recording::answerMci([](const std::string& c) { return c.rfind("setaudio", 0) == 0 ? 282u : 0u; });
  actions::playSound(file("rose.mp3"), 150);
  ASSERT_TRUE(recording::waitForMciCount(4));
  EXPECT_EQ(console_.text(), "Lecture audio: " + file("rose.mp3") + " (volume: 150%)\n");
}

TEST_F(Sound, RefusedPlayClosesAtOnce) {
  recording::answerMci([](const std::string& c) { return c.rfind("play", 0) == 0 ? 999u : 0u; });
  actions::playSound(file("with blank.mp3"), 100);
  const auto sent = recording::mciCommands();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[3].rfind("close sound", 0), 0u);
  EXPECT_TRUE(recording::closeWaits().empty());
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
