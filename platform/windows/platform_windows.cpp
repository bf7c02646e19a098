// The Windows calls themselves: keys through keybd_event, sounds through MCI.

// winsock2.h must come before windows.h, and mmsystem.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/windows/mci_player.hpp"
#include "platform/windows/system_message.hpp"

namespace platform {
namespace {

// Texts from the system come in the ANSI code page; the console shows UTF-8.
std::string ansiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return text;
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return text;
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

}  // namespace

void useUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

// Windows reserves each thread's stack (the program's default size) and
// commits it page by page as it is used; the default is kept.
void setThreadStackSize(std::size_t) {}

bool aloneOnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  // Only when standard input is that console: never with a pipe or a file.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {

struct VirtualKey {
  BYTE code;  // 0 when the layout has no key for it
  bool extended;
};

// Keys of the extended block (arrows, home, end...) carry the flag that tells
// them from the numeric keypad's keys of the same codes.
VirtualKey virtualKeyOf(Key key) {
  if (key >= Key::A && key <= Key::Z) {
    // The layout decides which key types the letter; none may.
    const SHORT layout = VkKeyScanA(static_cast<char>('a' + keyOffset(key, Key::A)));
    const BYTE code = static_cast<BYTE>(layout & 0xFF);
    return {layout == -1 || code == 0xFF ? BYTE{0} : code, false};
  }
  if (key >= Key::Digit0 && key <= Key::Digit9) return {static_cast<BYTE>('0' + keyOffset(key, Key::Digit0)), false};
  if (key >= Key::Numpad0 && key <= Key::Numpad9) {
    return {static_cast<BYTE>(VK_NUMPAD0 + keyOffset(key, Key::Numpad0)), false};
  }
  if (key >= Key::F1 && key <= Key::F24) return {static_cast<BYTE>(VK_F1 + keyOffset(key, Key::F1)), false};
  switch (key) {
    case Key::Space:
      return {VK_SPACE, false};
    case Key::Enter:
      return {VK_RETURN, false};
    case Key::Tab:
      return {VK_TAB, false};
    case Key::Escape:
      return {VK_ESCAPE, false};
    case Key::Backspace:
      return {VK_BACK, false};
    case Key::Delete:
      return {VK_DELETE, true};
    case Key::Insert:
      return {VK_INSERT, true};
    case Key::Home:
      return {VK_HOME, true};
    case Key::End:
      return {VK_END, true};
    case Key::PageUp:
      return {VK_PRIOR, true};
    case Key::PageDown:
      return {VK_NEXT, true};
    case Key::Up:
      return {VK_UP, true};
    case Key::Down:
      return {VK_DOWN, true};
    case Key::Left:
      return {VK_LEFT, true};
    case Key::Right:
      return {VK_RIGHT, true};
    case Key::Ctrl:
      return {VK_LCONTROL, false};
    case Key::Shift:
      return {VK_LSHIFT, false};
    case Key::Alt:
      return {VK_LMENU, false};
    case Key::Win:
      return {VK_LWIN, true};
    default:
      return {0, false};
  }
}

void keyEvent(VirtualKey key, bool up) {
  const BYTE scan = static_cast<BYTE>(MapVirtualKeyA(key.code, MAPVK_VK_TO_VSC) & 0xFF);
  const DWORD flags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  keybd_event(key.code, scan, flags, 0);
}

}  // namespace

// Windows always has a keyboard input to write to.
std::optional<std::string> openKeyboard() { return std::nullopt; }

KeyResult pressKeys(std::span<const Key> chord, std::chrono::milliseconds hold) {
  std::vector<VirtualKey> keys;
  for (const Key key : chord) {
    keys.push_back(virtualKeyOf(key));
    if (keys.back().code == 0) return {KeyResult::Outcome::NoSuchKey, {}};
  }
  for (const VirtualKey& key : keys) keyEvent(key, false);
  Sleep(static_cast<DWORD>(hold.count()));
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) keyEvent(*key, true);
  return {KeyResult::Outcome::Pressed, {}};
}

// MCI opens its devices itself, sound by sound.
std::optional<std::string> openSoundOutput() { return std::nullopt; }

void playSound(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime, SoundStarted started) {
  // Never destroyed: its thread may still be closing devices at exit.
  static mci::Player* player = new mci::Player(mci::Calls{
      [](const std::string& command) { return mciSendStringA(command.c_str(), nullptr, 0, nullptr); },
      [](std::uint32_t code) {
        char buffer[256] = {};
        return mciGetErrorStringA(code, buffer, sizeof(buffer)) ? ansiToUtf8(buffer) : std::string();
      },
      [](const std::string& relative) -> std::optional<std::string> {
        char buffer[MAX_PATH] = {};
        const DWORD length = GetFullPathNameA(relative.c_str(), MAX_PATH, buffer, nullptr);
        if (length == 0 || length >= MAX_PATH) return std::nullopt;
        return std::string(buffer, length);
      },
  });
  player->play(path, volume, lifetime, std::move(started));
}

std::string flushFileToDisk(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return systemMessage(GetLastError());
  const bool flushed = FlushFileBuffers(file) != 0;
  const DWORD error = GetLastError();
  CloseHandle(file);
  return flushed ? std::string() : systemMessage(error);
}

}  // namespace platform
