// Linux: the configuration file's writer, for the program and the tests.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/platform.hpp"

namespace platform {

namespace {

std::string errorText(int error) { return std::generic_category().message(error); }

// Writes all of `text`, whatever the system takes at a time.
bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

Result<> replaceFile(const std::string& path, std::string_view text) {
  // A link stays a link: the file it names gets the text.
  std::string target = path;
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return Failure{errorText(errno)};
    target = resolved;
    std::free(resolved);
  }
  // The file holds the account token: a new one is its owner's alone, an old
  // one keeps the permissions it was given.
  mode_t mode = S_IRUSR | S_IWUSR;
  if (::stat(target.c_str(), &entry) == 0) {
    if (!S_ISREG(entry.st_mode)) return Failure{"ce n'est pas un fichier ordinaire"};
    if ((entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      return Failure{"le fichier est en lecture seule : rendez-le modifiable (chmod u+w " + target + ")"};
    }
    mode = entry.st_mode & 07777;
  } else if (errno != ENOENT) {
    return Failure{errorText(errno)};
  }
  // Made new, never opened through whatever has the name: a link planted
  // there would receive the token. The name is this program's own, so what
  // has it (left by a run that was ended while saving) is removed once.
  const std::string temporary = target + ".tmp";
  int fd = -1;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && errno == EEXIST && attempt == 0) ::unlink(temporary.c_str());
  }
  if (fd < 0) return Failure{errorText(errno)};
  const auto failed = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return Failure{errorText(error)};
  };
  // The content must be on the disk before the name points at it, or a
  // power cut could leave an empty file under the real name.
  if (::fchmod(fd, mode) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0) return failed(errno != 0 ? errno : EIO);
  if (::close(fd) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Failure{errorText(error)};
  }
  // And the new name with the folder that holds it.
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace platform
