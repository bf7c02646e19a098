// The Linux stand-in. It keeps the program fully runnable here: the console
// needs no code page, key events go nowhere, and MCI is answered as Windows
// would answer the four commands the program sends, without playing sound.

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/platform.hpp"

namespace platform {
namespace {

// MCI's own error codes and texts.
constexpr std::uint32_t mciErrInvalidDeviceName = 263;
constexpr std::uint32_t mciErrFileNotFound = 275;
constexpr std::uint32_t mciErrOutOfRange = 282;
constexpr std::uint32_t mciErrUnrecognizedCommand = 261;

const std::map<std::uint32_t, std::string>& mciTexts() {
  static const std::map<std::uint32_t, std::string> texts{
      {mciErrUnrecognizedCommand, "The specified command was not recognized."},
      {mciErrInvalidDeviceName, "The specified device is not open or is not recognized by MCI."},
      {mciErrFileNotFound, "Cannot find the specified file. Make sure the path and filename are correct."},
      {mciErrOutOfRange, "The specified parameter is out of range for the specified command."},
  };
  return texts;
}

// Never destroyed: a closing thread may still send its command at exit.
struct Devices {
  std::mutex mutex;
  std::set<std::string> open;
};
Devices& devices() {
  static Devices* d = new Devices;
  return *d;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::uint32_t mciOpen(std::string_view command) {
  // open "PATH" type mpegvideo alias ALIAS
  constexpr std::string_view marker = "\" type mpegvideo alias ";
  const auto end = command.rfind(marker);
  if (command.size() < 6 || command[5] != '"' || end == std::string_view::npos || end < 6) {
    return mciErrUnrecognizedCommand;
  }
  const std::string path(command.substr(6, end - 6));
  const std::string alias(command.substr(end + marker.size()));
  if (!std::ifstream(path).good()) return mciErrFileNotFound;
  std::lock_guard<std::mutex> lock(devices().mutex);
  devices().open.insert(alias);
  return 0;
}

bool isOpen(const std::string& alias) {
  std::lock_guard<std::mutex> lock(devices().mutex);
  return devices().open.count(alias) != 0;
}

}  // namespace

void useUtf8Console() {}

void setThreadStackSize(std::size_t bytes) {
  // std::thread takes the process's default attributes.
  pthread_attr_t previous;
  if (pthread_getattr_default_np(&previous) != 0) return;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) == 0) {
    if (pthread_attr_setstacksize(&attributes, bytes) == 0) pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
  }
  // The thread-local data lives in the same block as the stack: where it is
  // large (ThreadSanitizer keeps its whole state there) no thread would start.
  pthread_t probe;
  if (pthread_create(
          &probe, nullptr, [](void*) -> void* { return nullptr; }, nullptr) == 0) {
    pthread_join(probe, nullptr);
  } else {
    pthread_setattr_default_np(&previous);
  }
  pthread_attr_destroy(&previous);
}

bool aloneOnConsole() { return false; }

std::int16_t keyScan(char character) {
  if (character >= 'a' && character <= 'z') return static_cast<std::int16_t>(character - 'a' + 'A');
  if (character >= 'A' && character <= 'Z') return static_cast<std::int16_t>(0x100 | character);  // with Shift
  return -1;
}

std::uint8_t scanCode(std::uint8_t virtualKey) {
  // Set 1 scan codes of a US keyboard, as MapVirtualKeyA gives them.
  static const std::map<std::uint8_t, std::uint8_t> codes = [] {
    std::map<std::uint8_t, std::uint8_t> m{
        {0x08, 0x0E}, {0x09, 0x0F}, {0x0D, 0x1C}, {0x1B, 0x01}, {0x20, 0x39}, {0x21, 0x49}, {0x22, 0x51}, {0x23, 0x4F},
        {0x24, 0x47}, {0x25, 0x4B}, {0x26, 0x48}, {0x27, 0x4D}, {0x28, 0x50}, {0x2D, 0x52}, {0x2E, 0x53}, {0x30, 0x0B},
        {0x60, 0x52}, {0x61, 0x4F}, {0x62, 0x50}, {0x63, 0x51}, {0x64, 0x4B}, {0x65, 0x4C}, {0x66, 0x4D}, {0x67, 0x47},
        {0x68, 0x48}, {0x69, 0x49}, {0x7A, 0x57}, {0x7B, 0x58}, {0x7C, 0x64}, {0x7D, 0x65}, {0x7E, 0x66}, {0x7F, 0x67},
        {0x80, 0x68}, {0x81, 0x69}, {0x82, 0x6A}, {0x83, 0x6B}, {0x84, 0x6C}, {0x85, 0x6D}, {0x86, 0x6E}, {0x87, 0x76}};
    for (std::uint8_t d = 1; d <= 9; ++d) m[static_cast<std::uint8_t>(0x30 + d)] = static_cast<std::uint8_t>(0x01 + d);
    for (std::uint8_t f = 0; f < 10; ++f) m[static_cast<std::uint8_t>(0x70 + f)] = static_cast<std::uint8_t>(0x3B + f);
    const std::string_view rows = "QWERTYUIOPASDFGHJKLZXCVBNM";
    const std::uint8_t firstOfRow[] = {0x10, 0x1E, 0x2C};
    const std::size_t rowLength[] = {10, 9, 7};
    std::size_t index = 0;
    for (int row = 0; row < 3; ++row) {
      for (std::size_t i = 0; i < rowLength[row]; ++i, ++index) {
        m[static_cast<std::uint8_t>(rows[index])] = static_cast<std::uint8_t>(firstOfRow[row] + i);
      }
    }
    return m;
  }();
  const auto it = codes.find(virtualKey);
  return it == codes.end() ? 0 : it->second;
}

void keyEvent(std::uint8_t, std::uint8_t, std::uint32_t) {}

void sleepMs(unsigned milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::uint32_t mciSend(const std::string& command) {
  const std::string_view text = command;
  if (startsWith(text, "open ")) return mciOpen(text);
  if (startsWith(text, "setaudio ")) {
    // setaudio ALIAS volume to LEVEL
    constexpr std::string_view marker = " volume to ";
    const auto at = text.find(marker);
    if (at == std::string_view::npos) return mciErrUnrecognizedCommand;
    if (!isOpen(std::string(text.substr(9, at - 9)))) return mciErrInvalidDeviceName;
    const std::string level(text.substr(at + marker.size()));
    try {
      const long long value = std::stoll(level);
      return (value < 0 || value > 1000) ? mciErrOutOfRange : 0;
    } catch (const std::exception&) {
      return mciErrOutOfRange;
    }
  }
  if (startsWith(text, "play ")) return isOpen(std::string(text.substr(5))) ? 0 : mciErrInvalidDeviceName;
  if (startsWith(text, "close ")) {
    std::lock_guard<std::mutex> lock(devices().mutex);
    return devices().open.erase(std::string(text.substr(6))) != 0 ? 0 : mciErrInvalidDeviceName;
  }
  return mciErrUnrecognizedCommand;
}

std::string mciErrorText(std::uint32_t code) {
  const auto it = mciTexts().find(code);
  return it == mciTexts().end() ? std::string() : it->second;
}

std::optional<std::string> fullPath(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec);
  if (ec) return std::nullopt;
  std::string full = absolute.lexically_normal().string();
  if (full.size() >= 260) return std::nullopt;  // as MAX_PATH limits Windows
  return full;
}

std::string flushFileToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::generic_category().message(errno);
  const int result = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  return result == 0 ? std::string() : std::generic_category().message(error);
}

}  // namespace platform
