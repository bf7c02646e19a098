#include "actions/sound.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::int32_t> nextAlias{0};
std::atomic<Clock::duration> deviceLifetime{soundDeviceLifetime};

std::string mciErrorOf(std::uint32_t code) {
  std::string text = platform::mciErrorText(code);
  return text.empty() ? "erreur MCI " + std::to_string(code) : text;
}

struct Playback {
  std::string path;  // as configured, for the console
  std::string fullPath;
  std::string alias;
  std::int32_t volume;
  std::promise<void> started;
};

// MCI ties a device to the thread that opened it: a close sent from any other
// thread is refused, and the sound would play on with its device never
// closed. So one sound thread opens and starts every device and closes each
// when its time is up. (Several such threads, each with devices of its own,
// made wine's MCI hang now and then in a storm of sounds, and started them no
// faster.) The thread ends when it has nothing left to start or close, and is
// started again by the next sound.
class SoundThread {
 public:
  static SoundThread& instance() {
    // Never destroyed: the detached thread may use it until the process ends.
    static SoundThread* thread = new SoundThread;
    return *thread;
  }

  void play(Playback playback) {
    std::future<void> started = playback.started.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.push_back(std::move(playback));
      if (!running_) {
        std::thread([this] { serve(); }).detach();
        running_ = true;
      }
    }
    wake_.notify_one();
    started.wait_for(std::chrono::milliseconds(soundStartWaitMs));
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      // A close that is due goes before the starts that wait: with slow
      // opens and a steady stream of sound gifts, the starts alone would
      // keep every device open long past its time.
      if (!closes_.empty() && closes_.begin()->first <= Clock::now()) {
        const std::string alias = closes_.begin()->second;
        closes_.erase(closes_.begin());
        lock.unlock();
        platform::mciSend(mciCloseCommand(alias));
        lock.lock();
        continue;
      }
      if (!pending_.empty()) {
        Playback playback = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        const bool playing = start(playback);
        playback.started.set_value();
        lock.lock();
        if (playing) closes_.emplace(Clock::now() + deviceLifetime.load(), playback.alias);
        continue;
      }
      if (closes_.empty()) {
        running_ = false;
        return;
      }
      wake_.wait_until(lock, closes_.begin()->first);
    }
  }

  // Opens and plays the device; true when it plays and must be closed later.
  static bool start(const Playback& playback) {
    if (const auto code = platform::mciSend(mciOpenCommand(playback.fullPath, playback.alias)); code != 0) {
      console::printLine("Erreur ouverture audio: " + mciErrorOf(code));
      return false;
    }
    platform::mciSend(mciVolumeCommand(playback.alias, playback.volume));
    if (const auto code = platform::mciSend(mciPlayCommand(playback.alias)); code != 0) {
      console::printLine("Erreur lecture audio: " + mciErrorOf(code));
      platform::mciSend(mciCloseCommand(playback.alias));
      return false;
    }
    console::printLine("Lecture audio: " + playback.path + " (volume: " + std::to_string(playback.volume) + "%)");
    return true;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  std::deque<Playback> pending_;
  std::multimap<Clock::time_point, std::string> closes_;
};

}  // namespace

void setSoundDeviceLifetime(std::chrono::milliseconds lifetime) { deviceLifetime = lifetime; }

std::string soundAlias(std::int32_t number) { return "sound" + std::to_string(number); }

std::string mciOpenCommand(const std::string& fullPath, const std::string& alias) {
  return "open \"" + fullPath + "\" type mpegvideo alias " + alias;
}

std::string mciVolumeCommand(const std::string& alias, std::int32_t volumePercent) {
  // Computed wide: a percentage near the integer's limits must not overflow.
  const std::int64_t level = static_cast<std::int64_t>(volumePercent) * 10;
  return "setaudio " + alias + " volume to " + std::to_string(level);
}

std::string mciPlayCommand(const std::string& alias) { return "play " + alias; }

std::string mciCloseCommand(const std::string& alias) { return "close " + alias; }

void playSound(const std::string& path, std::int32_t volume) {
  if (path.empty()) return;
  const bool readable = std::ifstream(path).good();
  // A path with no absolute form to give MCI is as good as missing.
  const auto full = readable ? platform::fullPath(path) : std::nullopt;
  if (!full) {
    console::printLine("Fichier audio non trouve : " + path);
    return;
  }
  SoundThread::instance().play(Playback{path, *full, soundAlias(nextAlias.fetch_add(1)), volume, {}});
}

}  // namespace actions
