// Sounds through SDL2_mixer, the same on every system: it mixes the sounds,
// each on a channel of its own with its own volume, and SDL plays the mix on
// the device chosen (WASAPI on Windows, PulseAudio or PipeWire on Linux).
//
// One thread, the sound thread, makes every call to the mixer: it decodes
// and starts sounds, stops them, tells those that ended, and follows the
// devices as they come and go. A file is decoded once while it is unchanged
// and kept, within a bound, so that its next sounds start at once.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>
#include <vector>

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
    std::lock_guard<std::mutex> sdl(sdlMutex_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      chosen_ = wanted_;
      deviceAsked_ = false;
      startThreadLocked();
    }
    outputWanted_ = true;
    return openLocked();
  }

  std::string problem() {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
  }

  std::vector<std::string> devices() {
    std::lock_guard<std::mutex> sdl(sdlMutex_);
    std::vector<std::string> names;
    if (!initLocked()) return names;
    const int count = sdl_.SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
      if (const char* name = sdl_.SDL_GetAudioDeviceName(i, 0)) names.emplace_back(name);
    }
    return names;
  }

  void use(const std::string& device, SoundDeviceChanged changed) {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_ = device;
    changed_ = std::move(changed);
    deviceAsked_ = true;
    startThreadLocked();
    wakeLocked();
  }

  Result<> tone(const std::string& device) {
    std::lock_guard<std::mutex> sdl(sdlMutex_);
    if (const auto ready = initLocked(); !ready) return ready;
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
    std::lock_guard<std::mutex> lock(mutex_);
    tones_.push_back({id, Clock::now() + toneLength + std::chrono::milliseconds(300)});
    startThreadLocked();
    return {};
  }

  SoundId play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
               Clock::time_point startBy, SoundTold told) {
    std::unique_lock<std::mutex> lock(mutex_);
    const SoundId id = ++lastId_;
    if (!startThreadLocked()) {
      lock.unlock();
      told({SoundStart::Outcome::CannotPlay, "le systeme ne peut pas demarrer le fil des sons"});
      return id;
    }
    waiting_.push_back({id, path, volume, lifetime, startBy, std::move(told)});
    wakeLocked();
    return id;
  }

  void stop(SoundId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    stops_.push_back(id);
    wakeLocked();
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
    std::lock_guard<std::mutex> lock(engine.mutex_);
    engine.finished_.push_back(channel);
    engine.wakeLocked();
  }

  void wakeLocked() {
    work_ = true;
    wake_.notify_one();
  }

  bool startThreadLocked() {
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
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, newsEvery, [this] { return work_; });
      work_ = false;
      std::deque<Waiting> waiting = std::exchange(waiting_, {});
      std::vector<SoundId> stops = std::exchange(stops_, {});
      const bool deviceAsked = std::exchange(deviceAsked_, false);
      const std::string wanted = wanted_;
      lock.unlock();

      std::lock_guard<std::mutex> sdl(sdlMutex_);
      endFinished();
      for (const SoundId id : stops) stopOne(id, waiting);
      if (deviceAsked && wanted != chosen_) {
        chosen_ = wanted;
        if (open_) reopen();
      }
      followDevices();
      startAll(waiting);
      closeTones();
    }
  }

  // The sounds whose channels finished: told, and their decoded files
  // released.
  void endFinished() {
    std::vector<int> channels;
    {
      std::lock_guard<std::mutex> lock(mutex_);
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

  void stopOne(SoundId id, std::deque<Waiting>& waiting) {
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

  void startAll(std::deque<Waiting>& waiting) {
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

  void start(Waiting& sound) {
    if (const auto opened = openLocked(); !opened) {
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
    playing_[channel] = {sound.id, sound.told, version};
    sound.told({SoundStart::Outcome::Playing, {}});
  }

  // The file's decoded sound, decoded now unless it is kept; null when it
  // cannot be read as sound.
  Decoded* decode(const std::string& path, const std::string& version) {
    if (const auto kept = decoded_.find(version); kept != decoded_.end()) return &kept->second;
    Mix_Chunk* chunk = sdl_.Mix_LoadWAV(path.c_str());
    if (chunk == nullptr) return nullptr;
    // Older versions of the file are of no more use once they are silent.
    std::erase_if(decoded_, [&](auto& entry) {
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
  void keepWithinBound(const std::string& spared) {
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

  void free(const Decoded& decoded) { sdl_.Mix_FreeChunk(decoded.chunk); }

  Result<> initLocked() {
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
  Result<> openLocked() {
    if (open_) return {};
    const auto now = Clock::now();
    if (now < nextTry_) return opened_;
    nextTry_ = now + retryEvery;
    if (opened_ = initLocked(); opened_) opened_ = openDevice();
    open_ = opened_.ok();
    if (!open_ && inited_ && tones_.empty()) {
      // SDL finds a sound server that starts later only when its audio
      // starts anew.
      sdl_.SDL_QuitSubSystem(SDL_INIT_AUDIO);
      inited_ = false;
    }
    std::string problem = open_ ? std::string() : opened_.reason();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::swap(problem, problem_);
    }
    // Said when it changes, the first failure aside: the program's start
    // tells that one.
    if (open_ && !problem.empty()) tellChange({SoundDeviceChange::Kind::Open, {}});
    if (!open_ && problem.empty() && everOpen_) tellChange({SoundDeviceChange::Kind::Closed, opened_.reason()});
    everOpen_ = everOpen_ || open_;
    return opened_;
  }

  bool listed(const std::string& device) {
    const int count = sdl_.SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
      const char* name = sdl_.SDL_GetAudioDeviceName(i, 0);
      if (name != nullptr && device == name) return true;
    }
    return false;
  }

  // Opens the chosen device, or the default one when it is absent, and says
  // so when that changes where sounds go.
  Result<> openDevice() {
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
  void reopen() {
    sdl_.Mix_CloseAudio();
    endFinished();
    for (auto& [channel, sound] : std::exchange(playing_, {})) {
      if (const auto decoded = decoded_.find(sound.version); decoded != decoded_.end()) --decoded->second.playing;
      sound.told({SoundStart::Outcome::Ended, {}});
    }
    open_ = false;
    nextTry_ = {};
    static_cast<void>(openLocked());  // a failure is told from there
  }

  void tellChange(const SoundDeviceChange& change) {
    SoundDeviceChanged changed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      changed = changed_;
    }
    if (changed) changed(change);
  }

  // The system's news of devices: when the one sounds go to is gone, they go
  // to the default one; when the chosen one is back, to it once all is
  // silent.
  void followDevices() {
    if (!open_) {
      if (outputWanted_) static_cast<void>(openLocked());
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

  void closeTones() {
    const auto now = Clock::now();
    std::erase_if(tones_, [&](const Tone& tone) {
      if (tone.closeAt > now) return false;
      sdl_.SDL_CloseAudioDevice(tone.id);
      return true;
    });
  }

  // The sound thread's own, and SDL's: held for every call to SDL.
  std::mutex sdlMutex_;
  sdl::Library sdl_;
  bool loadTried_ = false;
  Result<> loaded_;
  bool inited_ = false;
  bool outputWanted_ = false;  // the program asked for the output: it is tried until it opens
  bool open_ = false;
  bool everOpen_ = false;
  Result<> opened_;  // as the last attempt to open the output ended
  Clock::time_point nextTry_ = {};
  std::string chosen_;      // the device sounds are to go to; empty for the default
  bool fallen_ = false;     // on the default device, the chosen one being absent
  std::string toldAbsent_;  // the chosen device last said to be absent
  bool lost_ = false;
  Clock::time_point nextLook_ = {};
  std::map<int, Playing> playing_;          // by channel
  std::map<std::string, Decoded> decoded_;  // by version
  std::uint64_t starts_ = 0;
  std::vector<Tone> tones_;

  // What other threads hand the sound thread.
  std::mutex mutex_;
  std::condition_variable wake_;
  bool work_ = false;
  bool threadStarted_ = false;
  SoundId lastId_ = 0;
  std::deque<Waiting> waiting_;
  std::vector<SoundId> stops_;
  std::vector<int> finished_;
  std::string wanted_;
  bool deviceAsked_ = false;
  SoundDeviceChanged changed_;
  std::string problem_;  // why the output is not open; empty when it is, or was never asked for
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
