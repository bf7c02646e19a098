#include "actions/sound.hpp"

#include <filesystem>
#include <fstream>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

// The line that tells what became of a sound; none for the sounds that came
// too late with others, which the first of them tells for all.
std::string startLine(const std::string& path, std::int32_t volume, const platform::SoundStart& start) {
  using Outcome = platform::SoundStart::Outcome;
  switch (start.outcome) {
    case Outcome::Playing:
      return "Lecture audio: " + console::shown(path) + " (volume: " + std::to_string(volume) + "%)";
    case Outcome::NotFound:
      break;
    case Outcome::CannotOpen:
      return "Erreur ouverture audio: " + console::shown(start.reason);
    case Outcome::CannotPlay:
      return "Erreur lecture audio: " + console::shown(start.reason);
    case Outcome::TooLate:
      if (start.lateTogether == 0) return {};
      return "Sons non joues (trop de sons a la fois, pas demarres dans les 2 s) : " +
             std::to_string(start.lateTogether);
  }
  return "Fichier audio non trouve : " + console::shown(path);
}

}  // namespace

// The configured path is UTF-8 whatever the system: read as such, a name with
// accents is found on Windows too (narrow names there are in the code page).
bool soundFileExists(const std::string& path) {
  try {
    return std::ifstream(std::filesystem::path(std::u8string(path.begin(), path.end()))).good();
  } catch (const std::exception&) {
    return false;  // bytes that are not UTF-8 name no file there
  }
}

void playSound(const std::string& path, std::int32_t volume, std::chrono::steady_clock::time_point arrived) {
  if (path.empty()) return;
  if (!soundFileExists(path)) {
    console::printLine(startLine(path, volume, {platform::SoundStart::Outcome::NotFound, {}}));
    return;
  }
  platform::playSound(path, volume, soundLifetime, arrived + soundStartLimit,
                      [path, volume](const platform::SoundStart& start) {
                        if (const auto line = startLine(path, volume, start); !line.empty()) console::printLine(line);
                      });
}

}  // namespace actions
