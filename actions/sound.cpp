#include "actions/sound.hpp"

#include <filesystem>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

// What became of a sound; the sounds that came too late with others are
// counted by the first of them.
Step startStep(const std::string& path, std::int32_t volume, const platform::SoundStart& start) {
  using Outcome = platform::SoundStart::Outcome;
  switch (start.outcome) {
    case Outcome::Playing:
      return {StepKind::SoundPlaying, console::shown(path), {}, volume};
    case Outcome::NotFound:
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

}  // namespace

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

void playSound(const std::string& path, std::int32_t volume, std::chrono::steady_clock::time_point arrived, Tell tell) {
  if (path.empty()) return;
  if (!soundFileExists(path)) {
    tell(startStep(path, volume, {platform::SoundStart::Outcome::NotFound, {}}));
    return;
  }
  platform::playSound(path, volume, soundLifetime, arrived + soundStartLimit,
                      [path, volume, tell = std::move(tell)](const platform::SoundStart& start) {
                        tell(startStep(path, volume, start));
                      });
}

}  // namespace actions
