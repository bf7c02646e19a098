// The Windows sound player's rules, with MCI's calls played by the test.
#include "platform/windows/mci_player.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using Outcome = platform::SoundStart::Outcome;

TEST(MciPlayer, SoundsThatCannotStartInTimeAreDroppedAndToldTogether) {
  std::mutex mutex;
  std::vector<std::string> commands;
  std::vector<platform::SoundStart> starts;
  const auto began = std::chrono::steady_clock::now();
  {
    platform::mci::Player player({[&](const std::string& command) {
                                    if (command.starts_with("open")) std::this_thread::sleep_for(100ms);  // as wine
                                    std::lock_guard<std::mutex> lock(mutex);
                                    return commands.push_back(command), std::uint32_t{0};
                                  },
                                  [](std::uint32_t) { return std::string(); },
                                  [](const std::string& path) { return std::optional<std::string>("C:\\" + path); }});
    const auto startBy = std::chrono::steady_clock::now() + 250ms;
    for (int i = 0; i < 10; ++i) {
      player.play("a.mp3", 50, 400ms, startBy, [&](const platform::SoundStart& start) {
        std::lock_guard<std::mutex> lock(mutex);
        starts.push_back(start);
      });
    }
  }  // every device closed once its sound is over: the first, 400 ms after its 100 ms open
  EXPECT_GE(std::chrono::steady_clock::now() - began, 500ms);
  ASSERT_EQ(starts.size(), 10u);
  const auto played =
      static_cast<std::size_t>(std::ranges::count(starts, Outcome::Playing, &platform::SoundStart::outcome));
  EXPECT_TRUE(played >= 1 && played <= 4) << played;
  for (auto i = played; i < 10; ++i) {  // the rest at once, in one count
    EXPECT_EQ(std::pair(starts[i].outcome, starts[i].lateTogether),
              std::pair(Outcome::TooLate, i == played ? 10 - played : 0));
  }
  EXPECT_EQ(commands.front(), "open \"C:\\a.mp3\" type mpegvideo alias sound0");
  EXPECT_EQ(commands.size(), played * 4);  // open, setaudio, play, close
  EXPECT_EQ(std::ranges::count(commands, "close sound0"), 1);
}

}  // namespace
