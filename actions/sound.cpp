#include "actions/sound.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

#include "common/console.hpp"
#include "platform/platform.hpp"

namespace actions {
namespace {

std::atomic<std::int32_t> nextAlias{0};

std::string mciErrorOf(std::uint32_t code) {
  std::string text = platform::mciErrorText(code);
  return text.empty() ? "erreur MCI " + std::to_string(code) : text;
}

void closeLater(const std::string& alias) {
  std::thread([alias] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(soundDeviceSeconds);
    platform::sleepUntil(deadline);
    platform::mciSend(mciCloseCommand(alias));
  }).detach();
}

}  // namespace

std::string soundAlias(std::int32_t number) { return "sound" + std::to_string(number); }

std::string mciOpenCommand(const std::string& fullPath, const std::string& alias) {
  return "open \"" + fullPath + "\" type mpegvideo alias " + alias;
}

std::string mciVolumeCommand(const std::string& alias, std::int32_t volumePercent) {
  // Computed wide: a percentage near the integer's limits must not overflow.
  const std::int64_t level = static_cast<std::int64_t>(volumePercent) * 10;
  return "setaudio " + alias + " volume to " + std::to_string(level);
}

std::string mciPlayCommand(const std::string& alias) { return "play " + alias; }

std::string mciCloseCommand(const std::string& alias) { return "close " + alias; }

void playSound(const std::string& path, std::int32_t volume) {
  if (path.empty()) return;
  const bool readable = std::ifstream(path).good();
  // A path with no absolute form to give MCI is as good as missing.
  const auto full = readable ? platform::fullPath(path) : std::nullopt;
  if (!full) {
    console::printLine("Fichier audio non trouve : " + path);
    return;
  }
  const std::string alias = soundAlias(nextAlias.fetch_add(1));

  if (const auto code = platform::mciSend(mciOpenCommand(*full, alias)); code != 0) {
    console::printLine("Erreur ouverture audio: " + mciErrorOf(code));
    return;
  }
  platform::mciSend(mciVolumeCommand(alias, volume));
  if (const auto code = platform::mciSend(mciPlayCommand(alias)); code != 0) {
    console::printLine("Erreur lecture audio: " + mciErrorOf(code));
    platform::mciSend(mciCloseCommand(alias));
    return;
  }
  console::printLine("Lecture audio: " + path + " (volume: " + std::to_string(volume) + "%)");
  try {
    closeLater(alias);
  } catch (const std::system_error&) {
    // Without its closing thread the device would stay open for good.
    platform::mciSend(mciCloseCommand(alias));
    throw;
  }
}

}  // namespace actions
