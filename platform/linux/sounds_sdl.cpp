// Sounds through SDL2_mixer, which mixes as many sounds as arrive, each on a
// channel of its own with its own volume; SDL plays the mix through PulseAudio
// (or PipeWire's Pulse service).

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/platform.hpp"

namespace platform {
namespace {

constexpr int firstChannels = 16;

class Mixer {
 public:
  Result<> open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openLocked();
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

 private:
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
};

// Never destroyed: SDL's audio thread may be mixing while the program ends.
Mixer& mixer() {
  static Mixer* m = new Mixer;
  return *m;
}

}  // namespace

Result<> openSoundOutput() { return mixer().open(); }

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime, SoundStarted started) {
  started(mixer().play(path, volume, lifetime));
}

}  // namespace platform
