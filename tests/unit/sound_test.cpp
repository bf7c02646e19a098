#include "actions/sound.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "console_capture.hpp"
#include "recording_platform.hpp"
#include "scratch.hpp"

namespace {

using namespace std::chrono_literals;
using Outcome = platform::SoundStart::Outcome;

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    dir_ = testing_support::scratchDir("sound");
    rose_ = (dir_ / "rose.mp3").string();
    std::ofstream(rose_) << "ID3";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::string rose_;
  testing_support::ConsoleCapture console_;
};

TEST_F(Sound, PlaysForTenSecondsAtItsVolume) {
  actions::playSound(rose_, 80);
  const auto sounds = recording::sounds();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].path, rose_);
  EXPECT_EQ(sounds[0].volume, 80);
  EXPECT_EQ(sounds[0].lifetime, 10s);
  EXPECT_EQ(console_.text(), "Lecture audio: " + rose_ + " (volume: 80%)\n");
}

TEST_F(Sound, EachOutcomeHasItsLine) {
  const std::pair<platform::SoundStart, std::string> cases[] = {
      {{Outcome::Playing, {}}, "Lecture audio: " + rose_ + " (volume: 150%)"},
      {{Outcome::NotFound, {}}, "Fichier audio non trouve : " + rose_},
      {{Outcome::CannotOpen, "format inconnu"}, "Erreur ouverture audio: format inconnu"},
      {{Outcome::CannotPlay, "peripherique occupe"}, "Erreur lecture audio: peripherique occupe"},
  };
  for (const auto& [start, line] : cases) {
    recording::answerSounds([start](const recording::Sound&, const platform::SoundStarted& told) { told(start); });
    actions::playSound(rose_, 150);
    EXPECT_EQ(console_.lines().back(), line);
  }
}

TEST_F(Sound, MissingFileOrNoPathPlaysNothing) {
  actions::playSound("", 100);
  EXPECT_EQ(console_.text(), "");
  actions::playSound((dir_ / "missing.mp3").string(), 100);
  EXPECT_EQ(console_.text(), "Fichier audio non trouve : " + (dir_ / "missing.mp3").string() + "\n");
  EXPECT_TRUE(recording::sounds().empty());
}

TEST_F(Sound, SlowStartDoesNotHoldTheGift) {
  std::thread late;
  recording::answerSounds([&late](const recording::Sound&, const platform::SoundStarted& told) {
    late = std::thread([told] {
      std::this_thread::sleep_for(1s);
      told({Outcome::Playing, {}});
    });
  });
  const auto before = recording::Clock::now();
  actions::playSound(rose_, 100);
  const auto waited = recording::Clock::now() - before;
  EXPECT_GE(waited, actions::soundStartWait);
  EXPECT_LT(waited, 900ms);
  EXPECT_EQ(console_.text(), "");
  late.join();
  EXPECT_EQ(console_.text(), "Lecture audio: " + rose_ + " (volume: 100%)\n");
}

}  // namespace
