// Linux: the console, threads and files. Keys are in keys_x11.cpp, sounds in
// sounds_sdl.cpp.

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/platform.hpp"

namespace platform {

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

Result<> flushFileToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failure{std::generic_category().message(errno)};
  const int result = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) return Failure{std::generic_category().message(error)};
  return {};
}

}  // namespace platform
