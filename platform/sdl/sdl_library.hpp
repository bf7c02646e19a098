#pragma once

// The functions of SDL2_mixer, and of SDL below it, that sounds use. On Linux
// they are looked up in the system's libraries when sounds start (see
// platform/linux/sdl_library_linux.cpp); the Windows program has them linked
// in.

// The program has its own main.
#define SDL_MAIN_HANDLED
#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include "common/result.hpp"

namespace platform::sdl {

struct Library {
  decltype(&::SDL_SetHint) SDL_SetHint = nullptr;
  decltype(&::SDL_InitSubSystem) SDL_InitSubSystem = nullptr;
  decltype(&::SDL_QuitSubSystem) SDL_QuitSubSystem = nullptr;
  decltype(&::SDL_GetError) SDL_GetError = nullptr;
  decltype(&::SDL_PollEvent) SDL_PollEvent = nullptr;
  decltype(&::SDL_GetNumAudioDevices) SDL_GetNumAudioDevices = nullptr;
  decltype(&::SDL_GetAudioDeviceName) SDL_GetAudioDeviceName = nullptr;
  decltype(&::SDL_OpenAudioDevice) SDL_OpenAudioDevice = nullptr;
  decltype(&::SDL_QueueAudio) SDL_QueueAudio = nullptr;
  decltype(&::SDL_PauseAudioDevice) SDL_PauseAudioDevice = nullptr;
  decltype(&::SDL_CloseAudioDevice) SDL_CloseAudioDevice = nullptr;
  decltype(&::Mix_OpenAudioDevice) Mix_OpenAudioDevice = nullptr;
  decltype(&::Mix_CloseAudio) Mix_CloseAudio = nullptr;
  decltype(&::Mix_AllocateChannels) Mix_AllocateChannels = nullptr;
  decltype(&::Mix_GroupAvailable) Mix_GroupAvailable = nullptr;
  decltype(&::Mix_Volume) Mix_Volume = nullptr;
  decltype(&::Mix_PlayChannelTimed) Mix_PlayChannelTimed = nullptr;
  decltype(&::Mix_HaltChannel) Mix_HaltChannel = nullptr;
  decltype(&::Mix_ChannelFinished) Mix_ChannelFinished = nullptr;
  decltype(&::Mix_LoadWAV) Mix_LoadWAV = nullptr;
  decltype(&::Mix_FreeChunk) Mix_FreeChunk = nullptr;
  // The audio driver to ask SDL for; null for SDL's own choice.
  const char* driver = nullptr;
};

// Finds each function; fails with the loader's reason.
Result<> load(Library& library);

}  // namespace platform::sdl
