#include "actions/sound.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "recording_platform.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;
using Outcome = platform::SoundStart::Outcome;

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    recording::reset();
    std::ofstream(rose_) << "ID3";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_ = testing_support::scratchDir("sound");
  std::string rose_ = (dir_ / "rose.mp3").string();
  testing_support::ConsoleCapture console_;
};

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
  const auto sounds = recording::sounds();
  ASSERT_EQ(sounds.size(), 4u);
  EXPECT_EQ(std::tie(sounds[0].path, sounds[0].volume, sounds[0].lifetime), std::make_tuple(rose_, 150, 10000ms));
}

TEST_F(Sound, MissingFileOrNoPathPlaysNothing) {
  actions::playSound("", 100);
  actions::playSound((dir_ / "missing.mp3").string(), 100);
  EXPECT_EQ(console_.text(), "Fichier audio non trouve : " + (dir_ / "missing.mp3").string() + "\n");
  EXPECT_TRUE(recording::sounds().empty());
}

TEST_F(Sound, ASlowStartDoesNotHoldTheGift) {
  std::promise<void> returned;
  std::thread late;
  recording::answerSounds([&](const recording::Sound&, const platform::SoundStarted& told) {
    late = std::thread([told, waited = returned.get_future()] {
      waited.wait();
      told({Outcome::Playing, {}});
    });
  });
  actions::playSound(rose_, 100);
  EXPECT_EQ(console_.text(), "");
  returned.set_value();
  late.join();
  EXPECT_EQ(console_.text(), "Lecture audio: " + rose_ + " (volume: 100%)\n");
}

}  // namespace
