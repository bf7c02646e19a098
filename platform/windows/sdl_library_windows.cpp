// SDL2 and SDL2_mixer are linked into the program (built from their sources
// by scripts/build-sdl-mingw.sh): one .exe, nothing to ship beside it. SDL
// chooses the audio API itself, WASAPI first.

#include "platform/sdl/sdl_library.hpp"

namespace platform::sdl {

Result<> load(Library& sdl) {
  sdl = {&::SDL_SetHint,
         &::SDL_InitSubSystem,
         &::SDL_QuitSubSystem,
         &::SDL_GetError,
         &::SDL_PollEvent,
         &::SDL_GetNumAudioDevices,
         &::SDL_GetAudioDeviceName,
         &::SDL_OpenAudioDevice,
         &::SDL_QueueAudio,
         &::SDL_PauseAudioDevice,
         &::SDL_CloseAudioDevice,
         &::Mix_OpenAudioDevice,
         &::Mix_CloseAudio,
         &::Mix_AllocateChannels,
         &::Mix_GroupAvailable,
         &::Mix_Volume,
         &::Mix_PlayChannelTimed,
         &::Mix_HaltChannel,
         &::Mix_ChannelFinished,
         &::Mix_LoadWAV,
         &::Mix_FreeChunk,
         nullptr};
  return {};
}

}  // namespace platform::sdl
