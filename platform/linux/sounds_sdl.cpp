// Sounds through SDL2_mixer, which mixes as many sounds as arrive, each on a
// channel of its own with its own volume; SDL plays the mix through PulseAudio
// (or PipeWire's Pulse service). Files are decoded on a thread of the
// mixer's own, so that no gift waits for a decode.

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.hpp"
#include "platform/sound_queue.hpp"

namespace platform {
namespace {

constexpr int firstChannels = 16;

class Mixer {
 public:
  Result<> open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openLocked();
  }

  void enqueue(PendingSound sound) {
    std::unique_lock<std::mutex> lock(queueMutex_);
    queueSound(lock, pending_, serving_, wake_, std::move(sound), [this] { serve(); });
  }

 private:
  // The sound thread: one sound after the other, each decoded and started, or
  // dropped when it comes too late. It waits for sounds once started.
  void serve() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !pending_.empty(); });
      auto late = takeLate(pending_, std::chrono::steady_clock::now());
      if (late.empty()) {
        PendingSound sound = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        sound.started(play(sound.path, sound.volume, sound.lifetime));
      } else {
        lock.unlock();
        tellLate(late);
      }
      lock.lock();
    }
  }

  SoundStart play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto opened = openLocked(); !opened) return {SoundStart::Outcome::CannotOpen, opened.reason()};
    freeUnused();
    // One decoded copy of a file, however many gifts play it at once: a storm
    // of gifts with a long sound would otherwise hold hundreds of copies. A
    // file written again since is read again.
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec).time_since_epoch().count();
    const std::string version =
        path + '\n' + std::to_string(written) + '\n' + std::to_string(std::filesystem::file_size(path, ec));
    Mix_Chunk*& chunk = decoded_[version];
    if (chunk == nullptr) chunk = Mix_LoadWAV(path.c_str());
    if (chunk == nullptr) {
      decoded_.erase(version);
      return {SoundStart::Outcome::CannotOpen, Mix_GetError()};
    }
    int channel = Mix_GroupAvailable(-1);
    if (channel < 0) {
      // Every channel is busy: twice as many, so that this sound overlaps
      // the others too.
      channel = Mix_AllocateChannels(-1);
      Mix_AllocateChannels(channel * 2);
    }
    Mix_Volume(channel, volume >= 0 && volume <= 100 ? volume * MIX_MAX_VOLUME / 100 : MIX_MAX_VOLUME);
    if (Mix_PlayChannelTimed(channel, chunk, 0, static_cast<int>(lifetime.count())) < 0) {
      return {SoundStart::Outcome::CannotPlay, Mix_GetError()};
    }
    return {SoundStart::Outcome::Playing, {}};
  }

  Result<> openLocked() {
    if (tried_) return opened_;
    tried_ = true;
    SDL_SetHint(SDL_HINT_APP_NAME, "Koravel Key Webhook");
    // The sound server of desktop sessions, PulseAudio or PipeWire's Pulse
    // service, unless the user names another driver. (Tried without one,
    // ALSA writes its complaints to the error stream.)
    SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      opened_ = Failure{std::string("aucun serveur de son PulseAudio ou PipeWire joignable (") + SDL_GetError() + ")"};
      return opened_;
    }
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 1024) != 0) {
      opened_ = Failure{std::string("la sortie audio ne s'ouvre pas (") + Mix_GetError() + ")"};
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return opened_;
    }
    Mix_AllocateChannels(firstChannels);
    return opened_;
  }

  // A file's sound is freed once no channel plays it.
  void freeUnused() {
    const int channels = Mix_AllocateChannels(-1);
    std::erase_if(decoded_, [channels](const auto& entry) {
      for (int channel = 0; channel < channels; ++channel) {
        if (Mix_Playing(channel) && Mix_GetChunk(channel) == entry.second) return false;
      }
      Mix_FreeChunk(entry.second);
      return true;
    });
  }

  std::mutex mutex_;
  bool tried_ = false;
  Result<> opened_;                            // as the one attempt to open the output ended
  std::map<std::string, Mix_Chunk*> decoded_;  // by path, time written and size

  std::mutex queueMutex_;
  std::condition_variable wake_;
  std::deque<PendingSound> pending_;
  bool serving_ = false;
};

// Never destroyed: SDL's audio thread may be mixing while the program ends.
Mixer& mixer() {
  static Mixer* m = new Mixer;
  return *m;
}

}  // namespace

Result<> openSoundOutput() { return mixer().open(); }

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
               std::chrono::steady_clock::time_point startBy, SoundStarted started) {
  mixer().enqueue({path, volume, lifetime, startBy, std::move(started)});
}

}  // namespace platform
