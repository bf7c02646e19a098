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

std::string mciErrorOf(std::uint32_t code) {
  std::string text = platform::mciErrorText(code);
  return text.empty() ? "erreur MCI " + std::to_string(code) : text;
}

struct Playback {
  std::string path;  // as configured, for the console
  std::string fullPath;
  std::string alias;
  std::int32_t volume;
  std::promise<void> done;
};

// MCI ties a device to the thread that opened it: a close sent from any other
// thread is refused, and the sound would play on with its device never
// closed. So one thread sends every command of every device: it opens and
// starts each sound, and closes each device when its time is up.
class SoundThread {
 public:
  static SoundThread& instance() {
    // Never destroyed: the thread serves for the life of the process.
    static SoundThread* thread = new SoundThread;
    return *thread;
  }

  void play(Playback playback) {
    std::future<void> done = playback.done.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      startIfNeeded();
      pending_.push_back(std::move(playback));
    }
    wake_.notify_one();
    done.get();
  }

 private:
  void startIfNeeded() {
    if (started_) return;
    std::thread([this] { serve(); }).detach();
    started_ = true;
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!pending_.empty()) {
        Playback playback = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        start(playback);
        playback.done.set_value();
        lock.lock();
        continue;
      }
      if (closes_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const auto due = closes_.begin();
      if (Clock::now() < due->first) {
        wake_.wait_until(lock, due->first);
        continue;
      }
      const std::string alias = due->second;
      closes_.erase(due);
      lock.unlock();
      platform::mciSend(mciCloseCommand(alias));
      lock.lock();
    }
  }

  void start(const Playback& playback) {
    if (const auto code = platform::mciSend(mciOpenCommand(playback.fullPath, playback.alias)); code != 0) {
      console::printLine("Erreur ouverture audio: " + mciErrorOf(code));
      return;
    }
    platform::mciSend(mciVolumeCommand(playback.alias, playback.volume));
    if (const auto code = platform::mciSend(mciPlayCommand(playback.alias)); code != 0) {
      console::printLine("Erreur lecture audio: " + mciErrorOf(code));
      platform::mciSend(mciCloseCommand(playback.alias));
      return;
    }
    console::printLine("Lecture audio: " + playback.path + " (volume: " + std::to_string(playback.volume) + "%)");
    std::lock_guard<std::mutex> lock(mutex_);
    closes_.emplace(Clock::now() + std::chrono::seconds(soundDeviceSeconds), playback.alias);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  std::deque<Playback> pending_;
  std::multimap<Clock::time_point, std::string> closes_;
};

}  // namespace

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
