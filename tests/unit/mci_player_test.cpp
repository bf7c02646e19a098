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
  {
    platform::mci::Player player({[&](const std::string& command) {
                                    if (command.starts_with("open"))
                                      std::this_thread::sleep_for(100ms);  // as under wine
                                    std::lock_guard<std::mutex> lock(mutex);
                                    commands.push_back(command);
                                    return std::uint32_t{0};
                                  },
                                  [](std::uint32_t) { return std::string(); },
                                  [](const std::string& path) { return std::optional<std::string>("C:\\" + path); }});
    const auto startBy = std::chrono::steady_clock::now() + 250ms;
    for (int i = 0; i < 10; ++i) {
      player.play("a.mp3", 50, 10ms, startBy, [&](const platform::SoundStart& start) {
        std::lock_guard<std::mutex> lock(mutex);
        starts.push_back(start);
      });
    }
  }  // every device closed
  ASSERT_EQ(starts.size(), 10u);
  const auto played =
      std::count_if(starts.begin(), starts.end(), [](auto& s) { return s.outcome == Outcome::Playing; });
  EXPECT_GE(played, 1);
  EXPECT_LE(played, 4);
  // The rest at once, in one count.
  std::vector<std::size_t> told;
  for (std::size_t i = played; i < starts.size(); ++i) {
    EXPECT_EQ(starts[i].outcome, Outcome::TooLate);
    told.push_back(starts[i].lateTogether);
  }
  EXPECT_EQ(told.front(), starts.size() - played);
  EXPECT_EQ(std::count(told.begin(), told.end(), 0u), static_cast<long>(told.size()) - 1);
  EXPECT_EQ(commands.front(), "open \"C:\\a.mp3\" type mpegvideo alias sound0");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "close sound0"), 1);
  EXPECT_EQ(commands.size(), static_cast<std::size_t>(played) * 4);  // open, setaudio, play, close
}

}  // namespace
