// Windows: the configuration file's writer.

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/platform.hpp"
#include "platform/windows/system_message.hpp"

namespace platform {

Result<> replaceFile(const std::string& path, std::string_view text) {
  std::wstring target = wide(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Failure{
          "le fichier est en lecture seule : decochez \"Lecture seule\" dans ses Proprietes (clic droit sur le "
          "fichier) pour que le programme puisse l'ecrire"};
    }
    // A link stays a link: the file it names gets the text.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      const HANDLE named = CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (named == INVALID_HANDLE_VALUE) return Failure{systemMessage(GetLastError())};
      std::wstring final(32768, L'\0');
      const DWORD length = GetFinalPathNameByHandleW(named, final.data(), static_cast<DWORD>(final.size()), 0);
      const DWORD error = GetLastError();
      CloseHandle(named);
      if (length == 0 || length >= final.size()) return Failure{systemMessage(error)};
      final.resize(length);
      target = final;
    }
  }
  // Made new, never opened through whatever has the name: a link planted
  // there would receive the token. The name is this program's own, so what
  // has it (left by a run that was ended while saving) is removed once.
  const std::wstring temporary = target + L".tmp";
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && attempt == 0) {
      DeleteFileW(temporary.c_str());
    }
  }
  if (file == INVALID_HANDLE_VALUE) return Failure{systemMessage(GetLastError())};
  // A text file for Notepad: Windows' line ends.
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n' && (lines.empty() || lines.back() != '\r')) lines += '\r';
    lines += c;
  }
  bool done = true;
  for (std::string_view left = lines; done && !left.empty();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left.size(), 1u << 20));
    done = WriteFile(file, left.data(), chunk, &written, nullptr) != 0 && written > 0;
    left.remove_prefix(written);
  }
  // The content must be on the disk before the name points at it, or a
  // power cut could leave an empty file under the real name.
  done = done && FlushFileBuffers(file) != 0;
  DWORD error = GetLastError();
  CloseHandle(file);
  if (done && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {};
  }
  if (done) error = GetLastError();
  DeleteFileW(temporary.c_str());
  return Failure{systemMessage(error)};
}

}  // namespace platform
