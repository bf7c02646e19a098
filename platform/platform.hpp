#pragma once

// Every call the program makes to the operating system goes through these
// functions. One backend per system is linked in: platform/windows holds the
// real Windows calls, platform/linux a stand-in that keeps the program
// runnable on Linux, and the tests link a recording backend of their own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Console: UTF-8 for output and, where the system has one, for input.
void useUtf8Console();

// The stack reserved for each thread started from now on. Starting a thread
// costs more the larger its stack (Linux maps, guards and caches it whole);
// a storm of gifts starts hundreds of workers at once.
void setThreadStackSize(std::size_t bytes);

// True when this process is the only one attached to its console and its
// standard input is that console: the window was opened for this program
// alone (a double-click) and closes as soon as it ends.
bool aloneOnConsole();

// Keyboard layout: the 16-bit VkKeyScanA answer for one character (low byte
// virtual-key code, high byte shift state), or -1 when no key types it.
std::int16_t keyScan(char character);
// The hardware scan code of a virtual key (MapVirtualKeyA, VK to VSC).
std::uint8_t scanCode(std::uint8_t virtualKey);

inline constexpr std::uint32_t keyEventExtended = 0x0001;  // KEYEVENTF_EXTENDEDKEY
inline constexpr std::uint32_t keyEventKeyUp = 0x0002;     // KEYEVENTF_KEYUP
// Queues one synthesised key stroke (keybd_event).
void keyEvent(std::uint8_t virtualKey, std::uint8_t scan, std::uint32_t flags);

void sleepMs(unsigned milliseconds);

// Media Control Interface: sends one command string, answers 0 or an MCI
// error code.
std::uint32_t mciSend(const std::string& command);
// The readable text of an MCI error code; empty when the system has none.
std::string mciErrorText(std::uint32_t code);

// The absolute form of a path (GetFullPathNameA, MAX_PATH buffer); nothing
// when the call fails or the result does not fit.
std::optional<std::string> fullPath(const std::string& path);

// Makes sure a written file's content has reached the disk; answers the
// system's reason when it has not, the empty text when it has.
std::string flushFileToDisk(const std::string& path);

}  // namespace platform
