// The Windows sound player's rules, on a stand-in for MCI.
#include "platform/windows/mci_player.hpp"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Outcome = platform::SoundStart::Outcome;

struct Sent {
  std::string command;
  Clock::time_point at;
  std::thread::id thread;
};

class MciPlayer : public ::testing::Test {
 protected:
  // Devices close this long after they started, instead of 10 s.
  static constexpr std::chrono::milliseconds lifetime{200};

  // `answer` says what MCI answers each command.
  void start(std::function<std::uint32_t(const std::string&)> answer = [](const std::string&) { return 0u; }) {
    player_ = std::make_unique<platform::mci::Player>(platform::mci::Calls{
        [this, answer](const std::string& command) {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            sent_.push_back({command, Clock::now(), std::this_thread::get_id()});
          }
          return answer(command);
        },
        [](std::uint32_t code) { return code == 999 ? std::string() : "texte MCI " + std::to_string(code); },
        [](const std::string& path) -> std::optional<std::string> {
          if (path == "nowhere") return std::nullopt;
          return "C:\\stream\\" + path;
        },
    });
  }

  // Plays and waits until the sound is told to have started or failed.
  platform::SoundStart play(const std::string& path, std::int32_t volume) {
    std::promise<platform::SoundStart> told;
    player_->play(path, volume, lifetime, [&told](const platform::SoundStart& s) { told.set_value(s); });
    return told.get_future().get();
  }

  // Everything sent, once every device is closed.
  std::vector<Sent> allSent() {
    player_.reset();
    return sent_;
  }
  static std::vector<std::string> commands(const std::vector<Sent>& sent) {
    std::vector<std::string> out(sent.size());
    std::transform(sent.begin(), sent.end(), out.begin(), [](const Sent& s) { return s.command; });
    return out;
  }

  std::mutex mutex_;
  std::vector<Sent> sent_;
  std::unique_ptr<platform::mci::Player> player_;
};

TEST_F(MciPlayer, EachSoundADeviceOfItsOwnClosedWhenItsTimeIsUpFromTheSameThread) {
  start();
  EXPECT_EQ(play("my sounds/rose.mp3", 80).outcome, Outcome::Playing);
  EXPECT_EQ(play("rose.mp3", 150).outcome, Outcome::Playing);
  EXPECT_EQ(play("rose.mp3", 2147483647).outcome, Outcome::Playing);
  const auto sent = allSent();
  EXPECT_EQ(commands(sent), (std::vector<std::string>{
                                "open \"C:\\stream\\my sounds/rose.mp3\" type mpegvideo alias sound0",
                                "setaudio sound0 volume to 800",
                                "play sound0",
                                "open \"C:\\stream\\rose.mp3\" type mpegvideo alias sound1",
                                "setaudio sound1 volume to 1500",
                                "play sound1",
                                "open \"C:\\stream\\rose.mp3\" type mpegvideo alias sound2",
                                "setaudio sound2 volume to 21474836470",
                                "play sound2",
                                "close sound0",
                                "close sound1",
                                "close sound2",
                            }));
  const auto played = sent[9].at - sent[2].at;
  EXPECT_GE(played, lifetime);
  EXPECT_LT(played, lifetime + 500ms);
  // MCI refuses a close from any thread but the one that opened the device.
  for (const auto& s : sent) EXPECT_EQ(s.thread, sent[0].thread) << s.command;
}

TEST_F(MciPlayer, FailuresAreToldAndLeaveNoDeviceOpen) {
  start([](const std::string& c) -> std::uint32_t {
    if (c.find("refused-open") != std::string::npos) return 275;
    if (c == "play sound1") return 999;
    if (c.rfind("setaudio", 0) == 0) return 282;
    return 0;
  });
  const auto open = play("refused-open.mp3", 100);
  EXPECT_EQ(open.outcome, Outcome::CannotOpen);
  EXPECT_EQ(open.reason, "texte MCI 275");
  const auto playing = play("refused-play.mp3", 100);
  EXPECT_EQ(playing.outcome, Outcome::CannotPlay);
  EXPECT_EQ(playing.reason, "erreur MCI 999");  // MCI has no text for it
  EXPECT_EQ(play("nowhere", 100).outcome, Outcome::NotFound);
  // A refused volume still plays.
  EXPECT_EQ(play("rose.mp3", 100).outcome, Outcome::Playing);
  // The refused open used up its alias; the refused play was closed at once,
  // and once only.
  EXPECT_EQ(commands(allSent()), (std::vector<std::string>{
                                     "open \"C:\\stream\\refused-open.mp3\" type mpegvideo alias sound0",
                                     "open \"C:\\stream\\refused-play.mp3\" type mpegvideo alias sound1",
                                     "setaudio sound1 volume to 1000",
                                     "play sound1",
                                     "close sound1",
                                     "open \"C:\\stream\\rose.mp3\" type mpegvideo alias sound2",
                                     "setaudio sound2 volume to 1000",
                                     "play sound2",
                                     "close sound2",
                                 }));
}

TEST_F(MciPlayer, DueClosesGoBeforeWaitingStartsUnderAStreamOfSlowOpens) {
  start([](const std::string& c) -> std::uint32_t {
    if (c.rfind("open ", 0) == 0) std::this_thread::sleep_for(100ms);
    return 0;
  });
  // A sound every 50 ms, each taking 100 ms to open: the starts queue up.
  for (int i = 0; i < 15; ++i) {
    player_->play("rose.mp3", 100, lifetime, [](const platform::SoundStart&) {});
    std::this_thread::sleep_for(50ms);
  }
  const auto sent = allSent();
  std::map<std::string, Clock::time_point> played;
  int closes = 0;
  for (const auto& s : sent) {
    if (s.command.rfind("play ", 0) == 0) played[s.command.substr(5)] = s.at;
    if (s.command.rfind("close ", 0) != 0) continue;
    ++closes;
    // Closed on time: at most one open in progress delays it.
    EXPECT_LT(s.at - played.at(s.command.substr(6)), lifetime + 100ms + 150ms) << s.command;
  }
  EXPECT_EQ(closes, 15);
}

}  // namespace
