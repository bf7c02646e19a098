#include "actions/sound.hpp"

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

std::string startLine(const std::string& path, std::int32_t volume, const platform::SoundStart& start) {
  using Outcome = platform::SoundStart::Outcome;
  switch (start.outcome) {
    case Outcome::Playing:
      return "Lecture audio: " + path + " (volume: " + std::to_string(volume) + "%)";
    case Outcome::NotFound:
      break;
    case Outcome::CannotOpen:
      return "Erreur ouverture audio: " + start.reason;
    case Outcome::CannotPlay:
      return "Erreur lecture audio: " + start.reason;
  }
  return "Fichier audio non trouve : " + path;
}

// The configured path is UTF-8 whatever the system: read as such, a name with
// accents is found on Windows too (narrow names there are in the code page).
bool readable(const std::string& path) {
  try {
    return std::ifstream(std::filesystem::path(std::u8string(path.begin(), path.end()))).good();
  } catch (const std::exception&) {
    return false;  // bytes that are not UTF-8 name no file there
  }
}

}  // namespace

void playSound(const std::string& path, std::int32_t volume) {
  if (path.empty()) return;
  if (!readable(path)) {
    console::printLine(startLine(path, volume, {platform::SoundStart::Outcome::NotFound, {}}));
    return;
  }
  // Shared with the backend, which may tell the start after this gift has
  // stopped waiting for it.
  auto told = std::make_shared<std::promise<void>>();
  std::future<void> started = told->get_future();
  platform::playSound(path, volume, soundLifetime, [path, volume, told](const platform::SoundStart& start) {
    console::printLine(startLine(path, volume, start));
    told->set_value();
  });
  started.wait_for(soundStartWait);
}

}  // namespace actions
