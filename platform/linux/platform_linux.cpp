// Linux: the console, threads and files. Keys are in keys_x11.cpp, sounds in
// sounds_sdl.cpp.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/fatal_fault.hpp"
#include "platform/platform.hpp"

namespace platform {
namespace {

void onFatalSignal(int number, siginfo_t* info, void*) {
  const char* kind = number == SIGSEGV  ? "SIGSEGV (acces memoire invalide)"
                     : number == SIGBUS ? "SIGBUS (acces memoire invalide)"
                     : number == SIGFPE ? "SIGFPE (erreur de calcul)"
                     : number == SIGILL ? "SIGILL (instruction invalide)"
                                        : "SIGABRT (arret demande par le programme)";
  // A signal sent by another process (kill) has no address to tell.
  const auto address = info->si_code > 0 ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
  writeFatalLine(FatalLine(kind, address));
  // The handler was reset on entry: the signal now ends the program as it would have.
  raise(number);
}

}  // namespace

void tellFatalFaults() {
  tellUncaughtExceptions();
  // The main thread's fault handlers run on a stack of their own, so that
  // one that overflowed its stack can still say so.
  static char stack[64 * 1024];
  const stack_t alternate{stack, 0, sizeof stack};
  sigaltstack(&alternate, nullptr);
  struct sigaction action {};
  action.sa_sigaction = onFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (const int number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(number, &action, nullptr);
}

void writeToStandardOutput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

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

Result<> watchFolder(const std::string& folder, std::function<void(const std::string& name)> changed) {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0) return Failure{std::generic_category().message(errno)};
  const auto events = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
  if (inotify_add_watch(watch, folder.c_str(), events) < 0) {
    const int error = errno;
    close(watch);
    return Failure{std::generic_category().message(error)};
  }
  std::thread([watch, changed = std::move(changed)] {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      const ssize_t size = read(watch, buffer, sizeof(buffer));
      if (size < 0 && errno == EINTR) continue;
      if (size <= 0) return;
      for (const char* at = buffer; at < buffer + size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        changed((event->mask & IN_Q_OVERFLOW) != 0 || event->len == 0 ? std::string() : std::string(event->name));
        at += sizeof(inotify_event) + event->len;
      }
    }
  }).detach();
  return {};
}

// A Linux program is neither started in a system folder nor run from inside
// an archive by the file manager.
std::optional<std::pair<std::string, std::string>> leaveSystemFolder() { return std::nullopt; }
std::optional<std::string> programInTemporaryFolder() { return std::nullopt; }

void openInBrowser(const std::string& address) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) return;
  std::string program = "xdg-open", argument = address;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, arguments, environ) != 0) return;
  // Waited for, so that it does not linger as a zombie.
  std::thread([child] { waitpid(child, nullptr, 0); }).detach();
}

}  // namespace platform
