// SDL2_mixer is loaded when the sound output opens, after the port is taken:
// it brings some eighty libraries with it (codecs, X, Wayland, PulseAudio),
// whose loading would otherwise delay the first gift.

#include <dlfcn.h>

#include <string>
#include <type_traits>

#include "platform/sdl/sdl_library.hpp"

namespace platform::sdl {

Result<> load(Library& sdl) {
  void* handle = dlopen("libSDL2_mixer-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return Failure{std::string("SDL2_mixer introuvable (") + dlerror() + ")"};
  bool found = true;
  const auto find = [handle, &found](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
    found = found && function != nullptr;
  };
  find(sdl.SDL_SetHint, "SDL_SetHint");
  find(sdl.SDL_InitSubSystem, "SDL_InitSubSystem");
  find(sdl.SDL_QuitSubSystem, "SDL_QuitSubSystem");
  find(sdl.SDL_GetError, "SDL_GetError");
  find(sdl.SDL_PollEvent, "SDL_PollEvent");
  find(sdl.SDL_GetNumAudioDevices, "SDL_GetNumAudioDevices");
  find(sdl.SDL_GetAudioDeviceName, "SDL_GetAudioDeviceName");
  find(sdl.SDL_OpenAudioDevice, "SDL_OpenAudioDevice");
  find(sdl.SDL_QueueAudio, "SDL_QueueAudio");
  find(sdl.SDL_PauseAudioDevice, "SDL_PauseAudioDevice");
  find(sdl.SDL_CloseAudioDevice, "SDL_CloseAudioDevice");
  find(sdl.Mix_OpenAudioDevice, "Mix_OpenAudioDevice");
  find(sdl.Mix_CloseAudio, "Mix_CloseAudio");
  find(sdl.Mix_AllocateChannels, "Mix_AllocateChannels");
  find(sdl.Mix_GroupAvailable, "Mix_GroupAvailable");
  find(sdl.Mix_Volume, "Mix_Volume");
  find(sdl.Mix_PlayChannelTimed, "Mix_PlayChannelTimed");
  find(sdl.Mix_HaltChannel, "Mix_HaltChannel");
  find(sdl.Mix_ChannelFinished, "Mix_ChannelFinished");
  find(sdl.Mix_LoadWAV, "Mix_LoadWAV");
  find(sdl.Mix_FreeChunk, "Mix_FreeChunk");
  if (!found) return Failure{std::string("SDL2_mixer incomplet (") + dlerror() + ")"};
  // The sound server of desktop sessions, PulseAudio or PipeWire's Pulse
  // service. (Tried without one, ALSA writes its complaints to the error
  // stream.)
  sdl.driver = "pulseaudio";
  return {};
}

}  // namespace platform::sdl
