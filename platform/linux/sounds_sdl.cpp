// Sounds through SDL2_mixer, which mixes as many sounds as arrive, each on a
// channel of its own with its own volume; SDL plays the mix through PulseAudio
// (or PipeWire's Pulse service). Files are decoded on a thread of the
// mixer's own, so that no gift waits for a decode.
//
// The library is loaded when the sound output opens, after the port is
// taken: it brings some eighty libraries with it (codecs, X, Wayland,
// PulseAudio), whose loading would otherwise delay the first gift.

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <dlfcn.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include "platform/platform.hpp"
#include "platform/sound_queue.hpp"

namespace platform {
namespace {

constexpr int firstChannels = 16;

// The functions of SDL2_mixer (and of SDL, which it loads) that are used.
struct Library {
  decltype(&::SDL_SetHint) SDL_SetHint = nullptr;
  decltype(&::SDL_InitSubSystem) SDL_InitSubSystem = nullptr;
  decltype(&::SDL_QuitSubSystem) SDL_QuitSubSystem = nullptr;
  decltype(&::SDL_GetError) SDL_GetError = nullptr;
  decltype(&::Mix_OpenAudio) Mix_OpenAudio = nullptr;
  decltype(&::Mix_AllocateChannels) Mix_AllocateChannels = nullptr;
  decltype(&::Mix_GroupAvailable) Mix_GroupAvailable = nullptr;
  decltype(&::Mix_Volume) Mix_Volume = nullptr;
  decltype(&::Mix_PlayChannelTimed) Mix_PlayChannelTimed = nullptr;
  decltype(&::Mix_LoadWAV) Mix_LoadWAV = nullptr;
  decltype(&::Mix_Playing) Mix_Playing = nullptr;
  decltype(&::Mix_GetChunk) Mix_GetChunk = nullptr;
  decltype(&::Mix_FreeChunk) Mix_FreeChunk = nullptr;

  // Loads the library and finds each function; fails with the loader's reason.
  Result<> load() {
    void* handle = dlopen("libSDL2_mixer-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return Failure{std::string("SDL2_mixer introuvable (") + dlerror() + ")"};
    const auto find = [handle](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
      return function != nullptr;
    };
    const bool found = find(SDL_SetHint, "SDL_SetHint") && find(SDL_InitSubSystem, "SDL_InitSubSystem") &&
                       find(SDL_QuitSubSystem, "SDL_QuitSubSystem") && find(SDL_GetError, "SDL_GetError") &&
                       find(Mix_OpenAudio, "Mix_OpenAudio") && find(Mix_AllocateChannels, "Mix_AllocateChannels") &&
                       find(Mix_GroupAvailable, "Mix_GroupAvailable") && find(Mix_Volume, "Mix_Volume") &&
                       find(Mix_PlayChannelTimed, "Mix_PlayChannelTimed") && find(Mix_LoadWAV, "Mix_LoadWAV") &&
                       find(Mix_Playing, "Mix_Playing") && find(Mix_GetChunk, "Mix_GetChunk") &&
                       find(Mix_FreeChunk, "Mix_FreeChunk");
    if (!found) return Failure{std::string("SDL2_mixer incomplet (") + dlerror() + ")"};
    return {};
  }
};

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
    if (chunk == nullptr) chunk = sdl_.Mix_LoadWAV(path.c_str());
    if (chunk == nullptr) {
      decoded_.erase(version);
      return {SoundStart::Outcome::CannotOpen, sdl_.SDL_GetError()};
    }
    int channel = sdl_.Mix_GroupAvailable(-1);
    if (channel < 0) {
      // Every channel is busy: twice as many, so that this sound overlaps
      // the others too.
      channel = sdl_.Mix_AllocateChannels(-1);
      sdl_.Mix_AllocateChannels(channel * 2);
    }
    sdl_.Mix_Volume(channel, volume >= 0 && volume <= 100 ? volume * MIX_MAX_VOLUME / 100 : MIX_MAX_VOLUME);
    if (sdl_.Mix_PlayChannelTimed(channel, chunk, 0, static_cast<int>(lifetime.count())) < 0) {
      return {SoundStart::Outcome::CannotPlay, sdl_.SDL_GetError()};
    }
    return {SoundStart::Outcome::Playing, {}};
  }

  Result<> openLocked() {
    if (tried_) return opened_;
    tried_ = true;
    if (opened_ = sdl_.load(); !opened_) return opened_;
    sdl_.SDL_SetHint(SDL_HINT_APP_NAME, "Koravel Key Webhook");
    // The sound server of desktop sessions, PulseAudio or PipeWire's Pulse
    // service, unless the user names another driver. (Tried without one,
    // ALSA writes its complaints to the error stream.)
    sdl_.SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio");
    if (sdl_.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      opened_ =
          Failure{std::string("aucun serveur de son PulseAudio ou PipeWire joignable (") + sdl_.SDL_GetError() + ")"};
      return opened_;
    }
    if (sdl_.Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 1024) != 0) {
      opened_ = Failure{std::string("la sortie audio ne s'ouvre pas (") + sdl_.SDL_GetError() + ")"};
      sdl_.SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return opened_;
    }
    sdl_.Mix_AllocateChannels(firstChannels);
    return opened_;
  }

  // A file's sound is freed once no channel plays it.
  void freeUnused() {
    const int channels = sdl_.Mix_AllocateChannels(-1);
    std::erase_if(decoded_, [this, channels](const auto& entry) {
      for (int channel = 0; channel < channels; ++channel) {
        if (sdl_.Mix_Playing(channel) && sdl_.Mix_GetChunk(channel) == entry.second) return false;
      }
      sdl_.Mix_FreeChunk(entry.second);
      return true;
    });
  }

  std::mutex mutex_;
  Library sdl_;
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
