// Sounds through SDL2_mixer, the same on every system: it mixes the sounds,
// each on a channel of its own with its own volume, and SDL plays the mix on
// the device chosen (WASAPI on Windows, PulseAudio or PipeWire on Linux).
//
// One thread, the sound thread, makes every call to the mixer: it decodes
// and starts sounds, stops them, tells those that ended, and follows the
// devices as they come and go. A file is decoded once while it is unchanged
// and kept, within a bound, so that its next sounds start at once.
//
// The output is open only while sounds play and for a quiet spell after:
// an open output is fed silence, which wakes the program hundreds of times a
// second for as long as it runs beside the streamer's game. Closed, the
// program sleeps until a gift comes.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <filesystem>
#include <map>
#include <numbers>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "common/thread_safety.hpp"
#include "platform/platform.hpp"
#include "platform/sdl/sdl_library.hpp"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// What the decoded sounds may hold: a 60-second sound is 10 MiB.
constexpr std::size_t keptBytes = std::size_t{64} << 20;
constexpr int rate = 44100;
// Samples mixed at a time: about 12 ms, the delay a sound may start late by.
constexpr int mixedAtOnce = 512;
constexpr int firstChannels = 16;
// How often the thread looks at the system's device news when nothing else
// wakes it.
constexpr auto newsEvery = std::chrono::milliseconds(250);
constexpr auto lookEvery = std::chrono::seconds(1);
// How often an output that does not open is tried again: a headset plugged
// in, or a sound server started, after the program began is then found.
constexpr auto retryEvery = std::chrono::seconds(1);
constexpr auto toneLength = std::chrono::milliseconds(400);
// How long the output stays open once the last sound ended.
constexpr auto quietSpell = std::chrono::seconds(60);

struct Waiting {
  SoundId id;
  std::string path;
  std::int32_t volume;
  std::chrono::milliseconds lifetime;
  Clock::time_point startBy;
  SoundTold told;
};

struct Playing {
  SoundId id;
  SoundTold told;
  std::string version;  // of the decoded file it plays
};

struct Decoded {
  Mix_Chunk* chunk = nullptr;
  std::size_t bytes = 0;
  std::uint64_t used = 0;  // when it last started a sound, in starts
  int playing = 0;
};

// A file's version: its path, when it was last written and its size. A file
// written again is another version, decoded anew.
std::string versionOf(const std::string& path) {
  std::error_code ec;
  try {
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    const auto written = std::filesystem::last_write_time(file, ec).time_since_epoch().count();
    return path + '\n' + std::to_string(written) + '\n' + std::to_string(std::filesystem::file_size(file, ec));
  } catch (const std::exception&) {
    return path;
  }
}

class Engine {
 public:
  static Engine& the() {
    // Never destroyed: SDL's audio thread may be mixing while the program ends.
    static Engine* engine = new Engine;
    return *engine;
  }

  Result<> open() {
    MutexLock sdl(sdlMutex_);
    {
      MutexLock lock(handoffMutex_);
      chosen_ = wanted_;
      deviceAsked_ = false;
      startThreadHoldingHandoff();
    }
    outputWanted_ = true;
    // A probe: said at once when sounds cannot play, closed when they can.
    const Result<> opened = openHoldingSdl();
    if (opened) closeOutput();
    // The thread may have gone to sleep until a sound comes before the output
    // was wanted: woken, it tries again every second while it does not open.
    MutexLock lock(handoffMutex_);
    wakeHoldingHandoff();
    return opened;
  }

  std::string problem() {
    MutexLock lock(handoffMutex_);
    return problem_;
  }

  std::vector<std::string> devices() {
    MutexLock sdl(sdlMutex_);
    std::vector<std::string> names;
    if (!initHoldingSdl()) return names;
    const int count = sdl_.SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
      if (const char* name = sdl_.SDL_GetAudioDeviceName(i, 0)) names.emplace_back(name);
    }
    quitUnlessUsed();
    return names;
  }

  void use(const std::string& device, SoundDeviceChanged changed) {
    MutexLock lock(handoffMutex_);
    wanted_ = device;
    changed_ = std::move(changed);
    deviceAsked_ = true;
    startThreadHoldingHandoff();
    wakeHoldingHandoff();
  }

  Result<> tone(const std::string& device) {
    MutexLock sdl(sdlMutex_);
    if (const auto ready = initHoldingSdl(); !ready) return ready;
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = mixedAtOnce;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id =
        sdl_.SDL_OpenAudioDevice(device.empty() ? nullptr : device.c_str(), 0, &want, &have, 0);
    if (id == 0) return Failure{sdl_.SDL_GetError()};
    // A bell-like 880 Hz, faded in and out so that it does not click.
    const int frames = static_cast<int>(rate * toneLength.count() / 1000);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
      const double envelope = std::min({1.0, i / 400.0, (frames - i) / 4000.0});
      const auto value = static_cast<std::int16_t>(
          9000 * envelope * std::sin(2 * std::numbers::pi * 880 * i / static_cast<double>(rate)));
      samples[2 * static_cast<std::size_t>(i)] = samples[2 * static_cast<std::size_t>(i) + 1] = value;
    }
    sdl_.SDL_QueueAudio(id, samples.data(), static_cast<Uint32>(samples.size() * sizeof(std::int16_t)));
    sdl_.SDL_PauseAudioDevice(id, 0);
    MutexLock lock(handoffMutex_);
    tones_.push_back({id, Clock::now() + toneLength + std::chrono::milliseconds(300)});
    // Woken, the thread sleeps no longer than until the tone is to close.
    startThreadHoldingHandoff();
    wakeHoldingHandoff();
    return {};
  }

  SoundId play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
               Clock::time_point startBy, SoundTold told) {
    MutexLock lock(handoffMutex_);
    const SoundId id = ++lastId_;
    if (!startThreadHoldingHandoff()) {
      lock.unlock();
      told({SoundStart::Outcome::CannotPlay, "le systeme ne peut pas demarrer le fil des sons"});
      return id;
    }
    waiting_.push_back({id, path, volume, lifetime, startBy, std::move(told)});
    wakeHoldingHandoff();
    return id;
  }

  void stop(SoundId id) {
    MutexLock lock(handoffMutex_);
    stops_.push_back(id);
    wakeHoldingHandoff();
  }

 private:
  struct Tone {
    SDL_AudioDeviceID id;
    Clock::time_point closeAt;
  };

  // From SDL's audio thread, or from inside a halt: only noted here, since
  // the mixer may not be called back from its own callback.
  static void finished(int channel) {
    Engine& engine = the();
    MutexLock lock(engine.handoffMutex_);
    engine.finished_.push_back(channel);
    engine.wakeHoldingHandoff();
  }

  void wakeHoldingHandoff() REQUIRES(handoffMutex_) {
    work_ = true;
    wake_.notify_one();
  }

  bool startThreadHoldingHandoff() REQUIRES(handoffMutex_) {
    if (threadStarted_) return true;
    try {
      std::thread([this] { serve(); }).detach();
      threadStarted_ = true;
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  void serve() {
    std::optional<Clock::duration> sleep = newsEvery;
    for (;;) {
      MutexLock lock(handoffMutex_);
      if (sleep) {
        wake_.wait_for(lock, *sleep, [this]() REQUIRES(handoffMutex_) { return work_; });
      } else {
        wake_.wait(lock, [this]() REQUIRES(handoffMutex_) { return work_; });
      }
      work_ = false;
      std::deque<Waiting> waiting = std::exchange(waiting_, {});
      std::vector<SoundId> stops = std::exchange(stops_, {});
      const bool deviceAsked = std::exchange(deviceAsked_, false);
      const std::string wanted = wanted_;
      lock.unlock();

      MutexLock sdl(sdlMutex_);
      endFinished();
      for (const SoundId id : stops) stopOne(id, waiting);
      if (deviceAsked && wanted != chosen_) {
        chosen_ = wanted;
        if (open_) reopen();
      }
      followDevices();
      startAll(waiting);
      closeTones();
      sleep = closeWhenQuiet();
    }
  }

  // Closes the output once it has been silent for the quiet spell, and says
  // how long the thread may sleep: while the output is open or a tone
  // plays, it follows the devices; while the output is wanted but does not
  // open, it tries again; otherwise nothing happens until a gift comes.
  std::optional<Clock::duration> closeWhenQuiet() REQUIRES(sdlMutex_) {
    const auto now = Clock::now();
    if (!playing_.empty()) lastHeard_ = now;
    if (open_ && playing_.empty() && now - lastHeard_ >= quietSpell) closeOutput();
    if (open_ || !tones_.empty()) return newsEvery;
    if (outputWanted_ && !opened_) return retryEvery;
    return std::nullopt;
  }

  // Closes the output, and SDL's audio below it unless a tone plays: open, or
  // merely started, either keeps threads of their own awake.
  void closeOutput() REQUIRES(sdlMutex_) {
    if (open_) sdl_.Mix_CloseAudio();
    open_ = fallen_ = lost_ = false;
    nextTry_ = {};
    quitUnlessUsed();
  }

  void quitUnlessUsed() REQUIRES(sdlMutex_) {
    if (!inited_ || open_ || !tones_.empty()) return;
    sdl_.SDL_QuitSubSystem(SDL_INIT_AUDIO);
    inited_ = false;
  }

  // The sounds whose channels finished: told, and their decoded files
  // released.
  void endFinished() REQUIRES(sdlMutex_) {
    std::vector<int> channels;
    {
      MutexLock lock(handoffMutex_);
      channels = std::exchange(finished_, {});
    }
    for (const int channel : channels) {
      const auto found = playing_.find(channel);
      if (found == playing_.end()) continue;
      Playing ended = std::move(found->second);
      playing_.erase(found);
      if (const auto decoded = decoded_.find(ended.version); decoded != decoded_.end()) --decoded->second.playing;
      ended.told({SoundStart::Outcome::Ended, {}});
    }
  }

  void stopOne(SoundId id, std::deque<Waiting>& waiting) REQUIRES(sdlMutex_) {
    const auto pending = std::ranges::find(waiting, id, &Waiting::id);
    if (pending != waiting.end()) {
      pending->told({SoundStart::Outcome::Stopped, {}});
      waiting.erase(pending);
      return;
    }
    for (const auto& [channel, sound] : playing_) {
      if (sound.id != id) continue;
      sdl_.Mix_HaltChannel(channel);
      break;
    }
    endFinished();
  }

  void startAll(std::deque<Waiting>& waiting) REQUIRES(sdlMutex_) {
    std::vector<Waiting> late;
    const auto now = Clock::now();
    for (Waiting& sound : waiting) {
      if (sound.startBy < now) {
        late.push_back(std::move(sound));
      } else {
        start(sound);
      }
    }
    for (std::size_t i = 0; i < late.size(); ++i) {
      late[i].told({SoundStart::Outcome::TooLate, {}, i == 0 ? late.size() : 0});
    }
  }

  void start(Waiting& sound) REQUIRES(sdlMutex_) {
    if (const auto opened = openHoldingSdl(); !opened) {
      sound.told({SoundStart::Outcome::CannotOpen, opened.reason()});
      return;
    }
    const std::string version = versionOf(sound.path);
    Decoded* decoded = decode(sound.path, version);
    if (decoded == nullptr) {
      sound.told({SoundStart::Outcome::CannotOpen, sdl_.SDL_GetError()});
      return;
    }
    int channel = sdl_.Mix_GroupAvailable(-1);
    if (channel < 0) {
      // Every channel is busy: twice as many.
      channel = sdl_.Mix_AllocateChannels(-1);
      sdl_.Mix_AllocateChannels(channel * 2);
    }
    const std::int32_t volume = sound.volume;
    sdl_.Mix_Volume(channel, volume >= 0 && volume <= 100 ? volume * MIX_MAX_VOLUME / 100 : MIX_MAX_VOLUME);
    if (sdl_.Mix_PlayChannelTimed(channel, decoded->chunk, 0, static_cast<int>(sound.lifetime.count())) < 0) {
      sound.told({SoundStart::Outcome::CannotPlay, sdl_.SDL_GetError()});
      return;
    }
    ++decoded->playing;
    decoded->used = ++starts_;
    lastHeard_ = Clock::now();
    playing_[channel] = {sound.id, sound.told, version};
    sound.told({SoundStart::Outcome::Playing, {}});
  }

  // The file's decoded sound, decoded now unless it is kept; null when it
  // cannot be read as sound.
  Decoded* decode(const std::string& path, const std::string& version) REQUIRES(sdlMutex_) {
    if (const auto kept = decoded_.find(version); kept != decoded_.end()) return &kept->second;
    Mix_Chunk* chunk = sdl_.Mix_LoadWAV(path.c_str());
    if (chunk == nullptr) return nullptr;
    // Older versions of the file are of no more use once they are silent.
    std::erase_if(decoded_, [&](auto& entry) REQUIRES(sdlMutex_) {
      const bool older = entry.first.starts_with(path + '\n') && entry.second.playing == 0;
      if (older) free(entry.second);
      return older;
    });
    Decoded& made = decoded_[version];
    made = {chunk, chunk->alen, 0, 0};
    keepWithinBound(version);
    return &made;
  }

  // Frees the silent sounds used longest ago until what is kept fits, the
  // one just made aside.
  void keepWithinBound(const std::string& spared) REQUIRES(sdlMutex_) {
    for (;;) {
      std::size_t total = 0;
      auto oldest = decoded_.end();
      for (auto it = decoded_.begin(); it != decoded_.end(); ++it) {
        total += it->second.bytes;
        if (it->first != spared && it->second.playing == 0 &&
            (oldest == decoded_.end() || it->second.used < oldest->second.used)) {
          oldest = it;
        }
      }
      if (total <= keptBytes || oldest == decoded_.end()) return;
      free(oldest->second);
      decoded_.erase(oldest);
    }
  }

  void free(const Decoded& decoded) REQUIRES(sdlMutex_) { sdl_.Mix_FreeChunk(decoded.chunk); }

  Result<> initHoldingSdl() REQUIRES(sdlMutex_) {
    if (!loadTried_) {
      loadTried_ = true;
      if (loaded_ = sdl::load(sdl_); !loaded_) return loaded_;
      sdl_.SDL_SetHint(SDL_HINT_APP_NAME, "Koravel Key Webhook");
      // Ctrl+C and a closed window are the program's: left to SDL, they
      // would become an event nobody reads, and the program would not end
      // (on Windows, SDL's handler would come before the one that releases
      // keys).
      sdl_.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
      if (sdl_.driver != nullptr) sdl_.SDL_SetHint(SDL_HINT_AUDIODRIVER, sdl_.driver);
    }
    if (!loaded_ || inited_) return loaded_;
    if (sdl_.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      return Failure{std::string("aucune sortie audio joignable (") + sdl_.SDL_GetError() + ")"};
    }
    inited_ = true;
    return {};
  }

  // Opens the output unless it is open, or was tried less than a while ago.
  Result<> openHoldingSdl() REQUIRES(sdlMutex_) {
    if (open_) return {};
    const auto now = Clock::now();
    if (now < nextTry_) return opened_;
    nextTry_ = now + retryEvery;
    if (opened_ = initHoldingSdl(); opened_) opened_ = openDevice();
    open_ = opened_.ok();
    if (!open_ && inited_ && tones_.empty()) {
      // SDL finds a sound server that starts later only when its audio
      // starts anew.
      sdl_.SDL_QuitSubSystem(SDL_INIT_AUDIO);
      inited_ = false;
    }
    std::string problem = open_ ? std::string() : opened_.reason();
    {
      MutexLock lock(handoffMutex_);
      std::swap(problem, problem_);
    }
    // Said when it changes, the first failure aside: the program's start
    // tells that one.
    if (open_ && !problem.empty()) tellChange({SoundDeviceChange::Kind::Open, {}});
    if (!open_ && problem.empty() && everOpen_) tellChange({SoundDeviceChange::Kind::Closed, opened_.reason()});
    everOpen_ = everOpen_ || open_;
    return opened_;
  }

  bool listed(const std::string& device) REQUIRES(sdlMutex_) {
    const int count = sdl_.SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
      const char* name = sdl_.SDL_GetAudioDeviceName(i, 0);
      if (name != nullptr && device == name) return true;
    }
    return false;
  }

  // Opens the chosen device, or the default one when it is absent, and says
  // so when that changes where sounds go.
  Result<> openDevice() REQUIRES(sdlMutex_) {
    const bool onChosen = chosen_.empty() || listed(chosen_);
    const char* name = onChosen && !chosen_.empty() ? chosen_.c_str() : nullptr;
    if (sdl_.Mix_OpenAudioDevice(rate, AUDIO_S16SYS, 2, mixedAtOnce, name, 0) != 0) {
      return Failure{std::string("la sortie audio ne s'ouvre pas (") + sdl_.SDL_GetError() + ")"};
    }
    sdl_.Mix_AllocateChannels(firstChannels);
    sdl_.Mix_ChannelFinished(&Engine::finished);
    fallen_ = !onChosen;
    if (fallen_ && toldAbsent_ != chosen_) {
      toldAbsent_ = chosen_;
      tellChange({SoundDeviceChange::Kind::Absent, chosen_});
    } else if (!fallen_ && !toldAbsent_.empty()) {
      if (toldAbsent_ == chosen_) tellChange({SoundDeviceChange::Kind::Back, chosen_});
      toldAbsent_.clear();
    }
    return {};
  }

  // Ends every sound on the device and opens it anew, or the default one.
  void reopen() REQUIRES(sdlMutex_) {
    sdl_.Mix_CloseAudio();
    endFinished();
    for (auto& [channel, sound] : std::exchange(playing_, {})) {
      if (const auto decoded = decoded_.find(sound.version); decoded != decoded_.end()) --decoded->second.playing;
      sound.told({SoundStart::Outcome::Ended, {}});
    }
    open_ = false;
    nextTry_ = {};
    static_cast<void>(openHoldingSdl());  // a failure is told from there
  }

  void tellChange(const SoundDeviceChange& change) EXCLUDES(handoffMutex_) {
    SoundDeviceChanged changed;
    {
      MutexLock lock(handoffMutex_);
      changed = changed_;
    }
    if (changed) changed(change);
  }

  // The system's news of devices: when the one sounds go to is gone, they go
  // to the default one; when the chosen one is back, to it once all is
  // silent.
  void followDevices() REQUIRES(sdlMutex_) {
    if (!open_) {
      // An output that did not open is tried again; found, it is closed
      // until a sound comes, as at the start.
      if (outputWanted_ && !opened_ && openHoldingSdl()) closeOutput();
      return;
    }
    bool news = false;
    SDL_Event event;
    while (sdl_.SDL_PollEvent(&event) != 0) {
      if ((event.type == SDL_AUDIODEVICEREMOVED || event.type == SDL_AUDIODEVICEADDED) && !event.adevice.iscapture) {
        const bool ourTone = std::ranges::any_of(tones_, [&](const Tone& t) { return t.id == event.adevice.which; });
        news = news || !(event.type == SDL_AUDIODEVICEREMOVED && ourTone);
        if (event.type == SDL_AUDIODEVICEREMOVED && event.adevice.which != 0 && !ourTone) lost_ = true;
      }
    }
    // Not every system sends news of every device: the list is looked at
    // now and then as well.
    if (const auto now = Clock::now(); now >= nextLook_) {
      nextLook_ = now + lookEvery;
      news = true;
    }
    if (lost_ || (news && !fallen_ && !chosen_.empty() && !listed(chosen_))) {
      lost_ = false;
      reopen();
    } else if (fallen_ && playing_.empty() && listed(chosen_)) {
      reopen();
    }
  }

  void closeTones() REQUIRES(sdlMutex_) {
    const auto now = Clock::now();
    const bool toned = !tones_.empty();
    std::erase_if(tones_, [&](const Tone& tone) REQUIRES(sdlMutex_) {
      if (tone.closeAt > now) return false;
      sdl_.SDL_CloseAudioDevice(tone.id);
      return true;
    });
    if (toned && tones_.empty()) quitUnlessUsed();
  }

  // Held for every call to SDL, and for what the calls leave: by the sound
  // thread, and by the threads that list devices or play a tone (HTTP
  // workers) or open the output first (the main thread).
  Mutex sdlMutex_;
  sdl::Library sdl_ GUARDED_BY(sdlMutex_);
  bool loadTried_ GUARDED_BY(sdlMutex_) = false;
  Result<> loaded_ GUARDED_BY(sdlMutex_);
  bool inited_ GUARDED_BY(sdlMutex_) = false;
  bool outputWanted_ GUARDED_BY(sdlMutex_) =
      false;  // the program asked for the output: tried again while it does not open
  bool open_ GUARDED_BY(sdlMutex_) = false;
  bool everOpen_ GUARDED_BY(sdlMutex_) = false;
  Result<> opened_ GUARDED_BY(sdlMutex_);  // as the last attempt to open the output ended
  Clock::time_point nextTry_ GUARDED_BY(sdlMutex_) = {};
  Clock::time_point lastHeard_ GUARDED_BY(sdlMutex_) = {};  // when a sound last played
  std::string chosen_ GUARDED_BY(sdlMutex_);                // the device sounds are to go to; empty for the default
  bool fallen_ GUARDED_BY(sdlMutex_) = false;               // on the default device, the chosen one being absent
  std::string toldAbsent_ GUARDED_BY(sdlMutex_);            // the chosen device last said to be absent
  bool lost_ GUARDED_BY(sdlMutex_) = false;
  Clock::time_point nextLook_ GUARDED_BY(sdlMutex_) = {};
  std::map<int, Playing> playing_ GUARDED_BY(sdlMutex_);          // by channel
  std::map<std::string, Decoded> decoded_ GUARDED_BY(sdlMutex_);  // by version
  std::uint64_t starts_ GUARDED_BY(sdlMutex_) = 0;
  std::vector<Tone> tones_ GUARDED_BY(sdlMutex_);

  // What other threads hand the sound thread.
  Mutex handoffMutex_;
  CondVar wake_;
  bool work_ GUARDED_BY(handoffMutex_) = false;
  bool threadStarted_ GUARDED_BY(handoffMutex_) = false;
  SoundId lastId_ GUARDED_BY(handoffMutex_) = 0;
  std::deque<Waiting> waiting_ GUARDED_BY(handoffMutex_);
  std::vector<SoundId> stops_ GUARDED_BY(handoffMutex_);
  std::vector<int> finished_ GUARDED_BY(handoffMutex_);
  std::string wanted_ GUARDED_BY(handoffMutex_);
  bool deviceAsked_ GUARDED_BY(handoffMutex_) = false;
  SoundDeviceChanged changed_ GUARDED_BY(handoffMutex_);
  std::string problem_
      GUARDED_BY(handoffMutex_);  // why the output is not open; empty when it is, or was never asked for
};

}  // namespace

Result<> openSoundOutput() { return Engine::the().open(); }
std::string soundOutputProblem() { return Engine::the().problem(); }
std::vector<std::string> soundDevices() { return Engine::the().devices(); }
void useSoundDevice(const std::string& device, SoundDeviceChanged changed) {
  Engine::the().use(device, std::move(changed));
}
Result<> playTone(const std::string& device) { return Engine::the().tone(device); }

SoundId playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
                  std::chrono::steady_clock::time_point startBy, SoundTold told) {
  return Engine::the().play(path, volume, lifetime, startBy, std::move(told));
}

void stopSound(SoundId sound) { Engine::the().stop(sound); }

}  // namespace platform
