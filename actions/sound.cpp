#include "actions/sound.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "actions/sound_rules.hpp"
#include "common/console.hpp"
#include "common/thread_safety.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

using Clock = std::chrono::steady_clock;
using Ticket = SoundRules::Ticket;
using Skip = SoundRules::Skip;

// What became of a sound; the sounds that came too late with others are
// counted by the first of them.
Step startStep(const std::string& path, std::int32_t volume, const platform::SoundStart& start) {
  using Outcome = platform::SoundStart::Outcome;
  switch (start.outcome) {
    case Outcome::Playing:
      return {StepKind::SoundPlaying, console::shown(path), {}, volume};
    case Outcome::NotFound:
    case Outcome::Stopped:
    case Outcome::Ended:
      break;
    case Outcome::CannotOpen:
      return {StepKind::SoundCannotOpen, console::shown(start.reason)};
    case Outcome::CannotPlay:
      return {StepKind::SoundCannotPlay, console::shown(start.reason)};
    case Outcome::TooLate:
      return {StepKind::SoundTooLate, console::shown(path), {}, static_cast<int>(start.lateTogether)};
  }
  return {StepKind::SoundNotFound, console::shown(path)};
}

const char* skipReason(Skip skip) {
  switch (skip) {
    case Skip::OwnPlaying:
      return "un son du meme cadeau joue encore";
    case Skip::TooMany:
      return "8 sons jouent deja";
    case Skip::WaitedTooLong:
      return "pas demarres dans les 10 s apres leur cadeau";
    case Skip::None:
      break;
  }
  return "";
}

struct Sound {
  std::string path;
  std::int32_t volume;
  std::chrono::milliseconds lifetime;
  Clock::time_point startBy;
  Tell tell;
  std::shared_ptr<SoundBegun> begun;
  std::optional<platform::SoundId> id = {};
};

// The sounds skipped for one reason since it was last told: each is in the
// feed at once, and the console counts them in one line, told by the first
// of them once a sound has ended.
struct Skipped {
  int count = 0;
  Tell first;
  std::string path;
};

// What is to be done once the lock is let go: the calls to the platform and
// the tells, which may come back here.
struct Afterwards {
  std::vector<std::pair<Ticket, Sound>> starts;
  std::vector<platform::SoundId> stops;
  std::vector<std::pair<Tell, Step>> tells;
  std::vector<std::shared_ptr<SoundBegun>> begun;

  void run();
};

class Sounds {
 public:
  static Sounds& the() {
    static Sounds* sounds = new Sounds;  // sounds may end while the program does
    return *sounds;
  }

  std::shared_ptr<SoundBegun> arrive(const std::string& giftName, const config::GiftAction& gift,
                                     Clock::time_point arrived, Tell tell) {
    auto begun = std::make_shared<SoundBegun>();
    Afterwards after;
    {
      MutexLock lock(soundsMutex_);
      const Ticket ticket = ++last_;
      const auto limit = gift.soundMode == config::SoundMode::Queue ? queuedStartLimit : soundStartLimit;
      Sound sound{gift.sound, gift.volume, gift.soundSeconds, arrived + limit, std::move(tell), begun};
      const auto arrival = rules_.arrive(ticket, giftName, gift.soundMode, Clock::now());
      for (const Ticket replaced : arrival.stop) stopHoldingSounds(replaced, after);
      if (arrival.start) {
        after.starts.emplace_back(ticket, sound);
        sounds_.emplace(ticket, std::move(sound));
      } else if (arrival.skipped != Skip::None) {
        skipHoldingSounds(arrival.skipped, sound, after);
      } else {
        after.begun.push_back(begun);  // it waits its turn: the key does not
        sounds_.emplace(ticket, std::move(sound));
      }
    }
    after.run();
    for (auto& [ticket, sound] : after.starts) begin(ticket, sound);
    return begun;
  }

  std::size_t stopAll() {
    Afterwards after;
    std::size_t playing = 0;
    {
      MutexLock lock(soundsMutex_);
      playing = rules_.playing();
      for (const Ticket ticket : rules_.stopAll()) stopHoldingSounds(ticket, after);
    }
    after.run();
    return playing;
  }

 private:
  void begin(Ticket ticket, const Sound& sound) {
    const platform::SoundId id =
        platform::playSound(sound.path, sound.volume, sound.lifetime, sound.startBy,
                            [this, ticket](const platform::SoundStart& news) { told(ticket, news); });
    MutexLock lock(soundsMutex_);
    const auto found = sounds_.find(ticket);
    if (found != sounds_.end()) {
      found->second.id = id;
    } else {
      platform::stopSound(id);  // stopped before the platform had it
    }
  }

  void told(Ticket ticket, const platform::SoundStart& news) {
    using Outcome = platform::SoundStart::Outcome;
    Afterwards after;
    {
      MutexLock lock(soundsMutex_);
      const auto found = sounds_.find(ticket);
      if (news.outcome != Outcome::Ended && found != sounds_.end()) {
        if (news.outcome != Outcome::Stopped) {
          after.tells.emplace_back(found->second.tell, startStep(found->second.path, found->second.volume, news));
        }
        after.begun.push_back(found->second.begun);
      }
      if (news.outcome != Outcome::Playing) endedHoldingSounds(ticket, found, after);
    }
    after.run();
    for (auto& [turn, sound] : after.starts) begin(turn, sound);
  }

  // The sound is over, or never began: the rules say which come next.
  void endedHoldingSounds(Ticket ticket, std::map<Ticket, Sound>::iterator found, Afterwards& after)
      REQUIRES(soundsMutex_) {
    if (found != sounds_.end()) sounds_.erase(found);
    const auto next = rules_.ended(ticket, Clock::now());
    for (const Ticket late : next.tooLong) {
      if (const auto waited = sounds_.find(late); waited != sounds_.end()) {
        skipHoldingSounds(Skip::WaitedTooLong, waited->second, after);
        sounds_.erase(waited);
      }
    }
    for (const Ticket turn : next.start) {
      if (const auto waiting = sounds_.find(turn); waiting != sounds_.end()) {
        after.starts.emplace_back(turn, waiting->second);
      }
    }
    tellSkippedHoldingSounds(after);
  }

  void stopHoldingSounds(Ticket ticket, Afterwards& after) REQUIRES(soundsMutex_) {
    const auto found = sounds_.find(ticket);
    if (found == sounds_.end()) return;
    if (found->second.id) after.stops.push_back(*found->second.id);
    after.begun.push_back(found->second.begun);
    sounds_.erase(found);
  }

  void skipHoldingSounds(Skip why, const Sound& sound, Afterwards& after) REQUIRES(soundsMutex_) {
    Skipped& skipped = skipped_[why];
    if (skipped.count++ == 0) {
      skipped.first = sound.tell;
      skipped.path = sound.path;
    } else {
      after.tells.emplace_back(sound.tell, Step{StepKind::SoundSkipped, console::shown(sound.path), skipReason(why)});
    }
    after.begun.push_back(sound.begun);
  }

  void tellSkippedHoldingSounds(Afterwards& after) REQUIRES(soundsMutex_) {
    for (auto& [why, skipped] : skipped_) {
      if (skipped.count == 0) continue;
      after.tells.emplace_back(
          skipped.first, Step{StepKind::SoundSkipped, console::shown(skipped.path), skipReason(why), skipped.count});
      skipped = {};
    }
  }

  Mutex soundsMutex_;
  SoundRules rules_ GUARDED_BY(soundsMutex_);
  Ticket last_ GUARDED_BY(soundsMutex_) = 0;
  std::map<Ticket, Sound> sounds_ GUARDED_BY(soundsMutex_);  // started or waiting their turn
  std::map<Skip, Skipped> skipped_ GUARDED_BY(soundsMutex_);
};

void Afterwards::run() {
  for (const platform::SoundId id : stops) platform::stopSound(id);
  for (auto& [tell, step] : tells) tell(std::move(step));
  for (const auto& b : begun) b->done();
}

void tellCannotPlay(const std::string& reason) {
  console::printLine("Les sons ne pourront pas etre joues : " + reason);
}

}  // namespace

void SoundBegun::waitFor(std::chrono::milliseconds limit) {
  MutexLock lock(mutex_);
  changed_.wait_for(lock, limit, [this]() REQUIRES(mutex_) { return done_; });
}

void SoundBegun::done() {
  {
    MutexLock lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}

// The configured path is UTF-8 whatever the system: read as such, a name with
// accents is found on Windows too (narrow names there are in the code page).
// Only looked at, never opened: opening a named pipe or a device would wait
// for whatever is at its other end.
bool soundFileExists(const std::string& path) {
  try {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
  } catch (const std::exception&) {
    return false;  // bytes that are not UTF-8 name no file there
  }
}

std::shared_ptr<SoundBegun> playSound(const std::string& giftName, const config::GiftAction& gift,
                                      Clock::time_point arrived, Tell tell) {
  if (!soundFileExists(gift.sound)) {
    tell(startStep(gift.sound, gift.volume, {platform::SoundStart::Outcome::NotFound, {}}));
    return nullptr;
  }
  return Sounds::the().arrive(giftName, gift, arrived, std::move(tell));
}

std::size_t stopAllSounds() { return Sounds::the().stopAll(); }

void useSoundDevice(const std::string& device) {
  platform::useSoundDevice(device, [](const platform::SoundDeviceChange& change) {
    using Kind = platform::SoundDeviceChange::Kind;
    const std::string named = "Sortie audio \"" + console::shown(change.device) + "\"";
    switch (change.kind) {
      case Kind::Absent:
        return console::printLine(named + " absente : les sons vont sur la sortie par defaut");
      case Kind::Back:
        return console::printLine(named + " de retour : les sons y vont de nouveau");
      case Kind::Open:
        return console::printLine("Sortie audio ouverte : les sons peuvent etre joues");
      case Kind::Closed:
        return tellCannotPlay(change.device);
    }
  });
}

void openSoundOutput(const std::string& device) {
  useSoundDevice(device);
  if (const auto opened = platform::openSoundOutput(); !opened) tellCannotPlay(opened.reason());
}

}  // namespace actions
