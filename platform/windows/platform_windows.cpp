// The Windows calls themselves.

// winsock2.h must come before windows.h, and mmsystem.h after it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <string>

#include "platform/platform.hpp"
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

std::int16_t keyScan(char character) { return static_cast<std::int16_t>(VkKeyScanA(character)); }

std::uint8_t scanCode(std::uint8_t virtualKey) {
  return static_cast<std::uint8_t>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC) & 0xFF);
}

void keyEvent(std::uint8_t virtualKey, std::uint8_t scan, std::uint32_t flags) {
  keybd_event(virtualKey, scan, flags, 0);
}

void sleepMs(unsigned milliseconds) { Sleep(milliseconds); }

std::uint32_t mciSend(const std::string& command) { return mciSendStringA(command.c_str(), nullptr, 0, nullptr); }

std::string mciErrorText(std::uint32_t code) {
  char buffer[256] = {};
  if (!mciGetErrorStringA(code, buffer, sizeof(buffer))) return {};
  return ansiToUtf8(buffer);
}

std::optional<std::string> fullPath(const std::string& path) {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::string(buffer, length);
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
