// The Windows calls themselves: keys through SendInput, the streamer's own
// through a low-level keyboard hook, the focused window and its process.

// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/console.hpp"
#include "platform/fatal_fault.hpp"
#include "platform/platform.hpp"
#include "platform/windows/key_edges.hpp"
#include "platform/windows/system_message.hpp"

namespace platform {
namespace {

std::string utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

}  // namespace

void useUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

namespace {

// Not among windows.h's names.
constexpr DWORD heapCorrupted = 0xC0000374;
bool aloneOnItsConsole = false;

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  const std::string_view what = code == EXCEPTION_ACCESS_VIOLATION      ? " (acces memoire invalide)"
                                : code == EXCEPTION_STACK_OVERFLOW      ? " (pile epuisee)"
                                : code == EXCEPTION_ILLEGAL_INSTRUCTION ? " (instruction invalide)"
                                : code == EXCEPTION_INT_DIVIDE_BY_ZERO  ? " (division par zero)"
                                : code == heapCorrupted                 ? " (memoire du tas corrompue)"
                                                                        : "";
  // No allocation here: the heap may be what failed.
  std::array<char, 96> kind{};
  char* end = std::copy_n("exception 0x", 12, kind.data());
  end = std::to_chars(end, end + 8, static_cast<unsigned long>(code), 16).ptr;
  end = std::copy(what.begin(), what.end(), end);
  writeFatalLine(FatalLine({kind.data(), static_cast<std::size_t>(end - kind.data())},
                           reinterpret_cast<std::uintptr_t>(exception->ExceptionRecord->ExceptionAddress)));
  // A window opened for the program alone would close with it, the line
  // unread: it waits for Enter first.
  if (aloneOnItsConsole) {
    writeToStandardOutput(console::pressEnterToClose);
    char answer[16];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), answer, sizeof answer, &read, nullptr);
  }
  // Then the program ends at once, the exception's code its exit code: no
  // debugger or report window comes between the line and the streamer.
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void tellFatalFaults() {
  aloneOnItsConsole = aloneOnConsole();
  tellUncaughtExceptions();
  SetUnhandledExceptionFilter(onUnhandledException);
}

void writeToStandardOutput(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
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

using win::VirtualKey;

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

// The key's scan code in the layout, which games that read scan codes go by.
// A layout may lack the keypad's digits or F13 to F24 (wine's, made from an
// X keymap): they get the codes every keyboard gives them.
WORD scanCodeOf(BYTE code) {
  const WORD scan = static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC) & 0xFF);
  if (scan != 0) return scan;
  constexpr BYTE keypad[] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
  if (code >= VK_NUMPAD0 && code <= VK_NUMPAD9) return keypad[code - VK_NUMPAD0];
  if (code >= VK_F13 && code <= VK_F23) return static_cast<WORD>(0x64 + (code - VK_F13));
  return code == VK_F24 ? WORD{0x76} : WORD{0};
}

UINT sendEdge(std::span<const VirtualKey> keys, bool up) {
  std::vector<INPUT> inputs(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const VirtualKey& key = keys[up ? keys.size() - 1 - i : i];
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = key.code;
    inputs[i].ki.wScan = scanCodeOf(key.code);
    inputs[i].ki.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  }
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Never destroyed: the console's handler may release the keys at exit.
win::HeldKeys& held() {
  static win::HeldKeys* h = new win::HeldKeys({sendEdge, [] { return systemMessage(GetLastError()); }});
  return *h;
}

BOOL WINAPI releaseHeldKeys(DWORD) {
  held().releaseAll();
  return FALSE;  // and on to the system's handler, which ends the process
}

class StreamerKeys;
StreamerKeys& streamerKeys();

// The keys down on the keyboards themselves: a low-level hook sees every
// key event before any window, and marks those a program sent.
class StreamerKeys {
 public:
  // Starts the hook's thread, once: its messages call the hook.
  void listen() {
    std::call_once(started_, [this] {
      std::thread([this] {
        if (SetWindowsHookExW(WH_KEYBOARD_LL, onKey, GetModuleHandleW(nullptr), 0) == nullptr) return;
        for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;) DispatchMessageW(&message);
      }).detach();
    });
  }

  bool down(BYTE code) const { return down_[code].load(std::memory_order_relaxed); }
  void mark(DWORD code, bool down) { down_[code].store(down, std::memory_order_relaxed); }

 private:
  // The system waits for the hook before any window has the key: it only
  // marks the key, and a slow hook would be taken out by the system.
  static LRESULT CALLBACK onKey(int code, WPARAM message, LPARAM data) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    if (code == HC_ACTION && (key->flags & LLKHF_INJECTED) == 0 && key->vkCode < 256) {
      streamerKeys().mark(key->vkCode, message == WM_KEYDOWN || message == WM_SYSKEYDOWN);
    }
    return CallNextHookEx(nullptr, code, message, data);
  }

  std::once_flag started_;
  std::array<std::atomic<bool>, 256> down_{};
};

StreamerKeys& streamerKeys() {
  static StreamerKeys* keys = new StreamerKeys;  // never destroyed: the hook may run at exit
  return *keys;
}

// The virtual keys that count as the key held: a modifier has a key on each
// side.
std::vector<BYTE> heldAs(Key key) {
  switch (key) {
    case Key::Ctrl:
      return {VK_LCONTROL, VK_RCONTROL};
    case Key::Shift:
      return {VK_LSHIFT, VK_RSHIFT};
    case Key::Alt:
      return {VK_LMENU, VK_RMENU};
    case Key::Win:
      return {VK_LWIN, VK_RWIN};
    default:
      return {virtualKeyOf(key).code};
  }
}

std::optional<std::vector<VirtualKey>> virtualKeys(std::span<const Key> keys) {
  std::vector<VirtualKey> found;
  for (const Key key : keys) {
    found.push_back(virtualKeyOf(key));
    if (found.back().code == 0) return std::nullopt;
  }
  return found;
}

// A process's integrity level (the last part of its label's SID: 0x2000
// medium, 0x3000 high for a program run as administrator), or nothing when
// its token may not be read.
std::optional<DWORD> integrityOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> label(size);
  std::optional<DWORD> level;
  if (size > 0 && GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size)) {
    const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
  }
  CloseHandle(token);
  return level;
}

}  // namespace

Result<> openKeyboard() {
  streamerKeys().listen();
  return {};
}

void releaseKeysAtExit() { SetConsoleCtrlHandler(releaseHeldKeys, TRUE); }

Result<KeyPress> keysDown(std::span<const Key> keys) {
  const auto found = virtualKeys(keys);
  if (!found) return KeyPress::NoSuchKey;
  if (auto down = held().down(*found); !down) return down.failure();
  return KeyPress::Pressed;
}

Result<> keysUp(std::span<const Key> keys) {
  const auto found = virtualKeys(keys);
  return found ? held().up(*found) : Result<>{};
}

std::vector<Key> heldByStreamer(std::span<const Key> keys) {
  streamerKeys().listen();
  std::vector<Key> held;
  for (const Key key : keys) {
    const auto codes = heldAs(key);
    if (std::ranges::any_of(codes, [](BYTE code) { return code != 0 && streamerKeys().down(code); })) {
      held.push_back(key);
    }
  }
  return held;
}

std::optional<FocusedWindow> focusedWindow() {
  const HWND window = GetForegroundWindow();
  if (window == nullptr) return std::nullopt;
  FocusedWindow found;
  std::wstring title(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  title.resize(static_cast<std::size_t>(GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
  found.title = utf8(title.c_str());
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  // A process that may not be opened at all (a game's anti-cheat guards its
  // own) takes keys all the same: only its name stays unknown.
  if (process == nullptr) return found;
  wchar_t path[MAX_PATH * 2];
  DWORD length = MAX_PATH * 2;
  if (QueryFullProcessImageNameW(process, 0, path, &length)) {
    const std::wstring full(path, length);
    found.program = utf8(full.substr(full.find_last_of(L"\\/") + 1).c_str());
  }
  // The process of a program run as administrator lets a program that is
  // not see its name but not its token; one of the same rights always lets
  // its token be read. Either way the levels tell.
  static const std::optional<DWORD> own = integrityOf(GetCurrentProcess());
  const std::optional<DWORD> theirs = integrityOf(process);
  found.aboveThisProgram = own && (!theirs || *theirs > *own);
  CloseHandle(process);
  return found;
}

Result<> watchFolder(const std::string& folder, std::function<void(const std::string& name)> changed) {
  const HANDLE directory =
      CreateFileW(wide(folder).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return Failure{systemMessage(GetLastError())};
  std::thread([directory, changed = std::move(changed)] {
    alignas(FILE_NOTIFY_INFORMATION) char buffer[16 * 1024];
    const DWORD events = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
    for (;;) {
      DWORD size = 0;
      if (!ReadDirectoryChangesW(directory, buffer, sizeof(buffer), FALSE, events, &size, nullptr, nullptr)) return;
      if (size == 0) changed({});  // more changes than the buffer holds
      for (DWORD at = 0; size != 0;) {
        const auto* event = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
        const std::wstring name(event->FileName, event->FileNameLength / sizeof(WCHAR));
        changed(utf8(name.c_str()));
        if (event->NextEntryOffset == 0) break;
        at += event->NextEntryOffset;
      }
    }
  }).detach();
  return {};
}

namespace {

// A folder's path as written by the system, in full (a temporary folder may
// be given in 8.3 form, C:\Users\JEAN~1\...), without a final backslash.
std::wstring fullFolder(std::wstring path) {
  if (const DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0); length > 0) {
    std::wstring full(length, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), full.data(), length);
    if (written > 0 && written < length) path = full.substr(0, written);
  }
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// Folder names are compared as Windows does: without regard to case.
bool sameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool isWithin(const std::wstring& folder, const std::wstring& parent) {
  if (parent.empty() || folder.size() < parent.size()) return false;
  if (!sameText(folder.substr(0, parent.size()), parent)) return false;
  return folder.size() == parent.size() || folder[parent.size()] == L'\\' || parent.back() == L'\\';
}

std::wstring programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return fullFolder(path.substr(0, path.find_last_of(L"\\/")));
}

std::wstring systemFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  return length > 0 && length <= MAX_PATH ? fullFolder(std::wstring(buffer, length)) : std::wstring();
}

}  // namespace

std::optional<std::pair<std::string, std::string>> leaveSystemFolder() {
  wchar_t current[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, current);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  const std::wstring system = systemFolder();
  if (system.empty() || !sameText(fullFolder(std::wstring(current, length)), system)) return std::nullopt;
  const std::wstring own = programFolder();
  if (own.empty() || !SetCurrentDirectoryW(own.c_str())) return std::nullopt;
  return std::pair{utf8(system.c_str()), utf8(own.c_str())};
}

std::optional<std::string> programInTemporaryFolder() {
  wchar_t temporary[MAX_PATH + 2];
  const DWORD length = GetTempPathW(MAX_PATH + 2, temporary);
  if (length == 0 || length > MAX_PATH + 1) return std::nullopt;
  const std::wstring own = programFolder();
  if (!isWithin(own, fullFolder(std::wstring(temporary, length)))) return std::nullopt;
  return utf8(own.c_str());
}

void openInBrowser(const std::string& address) {
  // The shell may use COM for it, on a thread of its own.
  std::thread([url = wide(address)] {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com)) CoUninitialize();
  }).detach();
}

}  // namespace platform
