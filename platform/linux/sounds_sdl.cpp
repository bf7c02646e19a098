// Sounds through SDL2_mixer, which mixes as many sounds as arrive, each on a
// channel of its own with its own volume; SDL plays the mix through PulseAudio
// (or PipeWire's Pulse service).

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <mutex>
#include <vector>

#include "platform/platform.hpp"

namespace platform {
namespace {

constexpr int firstChannels = 16;

class Mixer {
 public:
  std::optional<std::string> open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openLocked();
  }

  SoundStart play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto why = openLocked()) return {SoundStart::Outcome::CannotOpen, *why};
    freeFinished();
    // Decoded whole: a ten-second sound is under 2 MB.
    Mix_Chunk* chunk = Mix_LoadWAV(path.c_str());
    if (chunk == nullptr) return {SoundStart::Outcome::CannotOpen, Mix_GetError()};
    Mix_VolumeChunk(chunk, volume >= 0 && volume <= 100 ? volume * MIX_MAX_VOLUME / 100 : MIX_MAX_VOLUME);
    const int ticks = static_cast<int>(lifetime.count());
    int channel = Mix_PlayChannelTimed(-1, chunk, 0, ticks);
    if (channel < 0) {
      // Every channel is busy: twice as many, so that this sound overlaps
      // the others too.
      Mix_AllocateChannels(Mix_AllocateChannels(-1) * 2);
      channel = Mix_PlayChannelTimed(-1, chunk, 0, ticks);
    }
    if (channel < 0) {
      const std::string reason = Mix_GetError();
      Mix_FreeChunk(chunk);
      return {SoundStart::Outcome::CannotPlay, reason};
    }
    playing_.push_back({channel, chunk});
    return {SoundStart::Outcome::Playing, {}};
  }

 private:
  std::optional<std::string> openLocked() {
    if (tried_) return unavailable_;
    tried_ = true;
    SDL_SetHint(SDL_HINT_APP_NAME, "Koravel Key Webhook");
    // The sound server of desktop sessions, PulseAudio or PipeWire's Pulse
    // service, unless the user names another driver. (Tried without one,
    // ALSA writes its complaints to the error stream.)
    SDL_SetHint(SDL_HINT_AUDIODRIVER, "pulseaudio");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      unavailable_ = std::string("aucun serveur de son PulseAudio ou PipeWire joignable (") + SDL_GetError() + ")";
      return unavailable_;
    }
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 1024) != 0) {
      unavailable_ = std::string("la sortie audio ne s'ouvre pas (") + Mix_GetError() + ")";
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return unavailable_;
    }
    Mix_AllocateChannels(firstChannels);
    return std::nullopt;
  }

  // A sound's memory goes once its channel has finished with it.
  void freeFinished() {
    std::erase_if(playing_, [](const Playing& p) {
      if (Mix_Playing(p.channel) && Mix_GetChunk(p.channel) == p.chunk) return false;
      Mix_FreeChunk(p.chunk);
      return true;
    });
  }

  struct Playing {
    int channel;
    Mix_Chunk* chunk;
  };
  std::mutex mutex_;
  bool tried_ = false;
  std::optional<std::string> unavailable_;
  std::vector<Playing> playing_;
};

// Never destroyed: SDL's audio thread may be mixing while the program ends.
Mixer& mixer() {
  static Mixer* m = new Mixer;
  return *m;
}

}  // namespace

std::optional<std::string> openSoundOutput() { return mixer().open(); }

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime, SoundStarted started) {
  started(mixer().play(path, volume, lifetime));
}

}  // namespace platform
