#pragma once

// Sounds through Windows' Media Control Interface: one device per sound
// (type mpegvideo, which plays MP3), under an alias of its own, "sound0",
// "sound1", ..., so that sounds overlap; each device is closed when its
// sound's time is up.
//
// The MCI calls themselves are handed in, so that the player's rules can be
// tried without Windows.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "platform/sound_queue.hpp"

namespace platform::mci {

struct Calls {
  // Sends one command string; answers 0 or an MCI error code.
  std::function<std::uint32_t(const std::string& command)> send;
  // The readable text of an error code; empty when MCI has none.
  std::function<std::string(std::uint32_t code)> errorText;
  // The absolute form of a path, which MCI needs; nothing when there is none.
  std::function<std::optional<std::string>(const std::string& path)> fullPath;
};

// MCI ties a device to the thread that opened it: a close sent from any other
// thread is refused, and the sound would play on with its device never
// closed. So one thread opens and starts every device and closes each when
// its time is up. (Several such threads, each with devices of its own, made
// wine's MCI hang now and then in a storm of sounds, and started them no
// faster.) The thread ends when it has nothing left to start or close, and is
// started again by the next sound.
class Player {
 public:
  explicit Player(Calls calls) : calls_(std::move(calls)) {}
  // Waits for the thread to have closed every device.
  ~Player();

  void play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
            std::chrono::steady_clock::time_point startBy, SoundStarted started);

 private:
  using Clock = std::chrono::steady_clock;

  void serve();
  // Opens and plays one device (the sound's path is the full one); its alias
  // when it plays and must be closed.
  std::optional<std::string> start(const PendingSound& sound);
  std::string errorOf(std::uint32_t code) const;

  const Calls calls_;
  std::int32_t nextAlias_ = 0;  // the sound thread's alone
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool running_ = false;
  std::deque<PendingSound> pending_;
  std::multimap<Clock::time_point, std::string> closes_;
};

}  // namespace platform::mci
