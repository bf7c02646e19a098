#pragma once

// The program's threads, and the locks between them.
//
//   thread           started by                        owns, does                           ends
//   main             the system                        start-up; then the accept loop       with the program
//                                                      (HttpServer::serve)
//   HTTP workers     WorkerPool, from the accept loop  one connection at a time: its        beyond the first 8, after 3
//   s
//                                                      requests, a gift's first run         without work; all at
//                                                      shutdown
//   gift runs        gifts/handle_event.cpp, a worker   the rest of one gift's runs, in      when they are done
//   (detached)
//                                                      turn (keys wait for their turn)
//   console writer   console::Output, the first line   standard output                      never (detached)
//   sound thread     the sound engine, when sounds     every call to SDL_mixer; the         never (detached)
//                    are first asked for               output, decoded files, devices
//   SDL's audio      SDL, while the output or a tone   the mix, fed to the device           when they close
//                    is open
//   file watcher     platform::watchFolder             the system's news of the folder      never (detached)
//   file settler     app::ConfigReload::watch          reads the file once changes settle   never (detached)
//   streamer's keys  platform, on the first key        Windows: the low-level keyboard      never (detached)
//                    gift                              hook; Linux: XInput 2 raw events on
//                                                      a second X connection
//   ending signals   platform::releaseKeysAtExit       Linux: SIGINT, SIGTERM, SIGHUP; it   at the signal, ending the
//                    (Linux)                           releases the keys held               program
//   browser opener   platform::openInBrowser           Windows: the shell's call; Linux:    once the browser is asked
//                                                      waits for xdg-open                   (detached)
//
// No thread is ever stopped from outside: those that run for the program's
// life are detached, and what they use is never destroyed.
//
// The annotations below let clang check, at build time, that each member a
// lock guards is reached only with that lock held (the thread-safety preset
// builds with -Wthread-safety -Werror). Other compilers ignore them.

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS THREAD_ANNOTATION(no_thread_safety_analysis)

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds a mutex for its scope. It may let it go and take it again (around a
// call that must not be made under it), and be waited on with a CondVar.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() { lock_.unlock(); }
  void lock() ACQUIRE() { lock_.lock(); }

 private:
  friend class CondVar;
  std::unique_lock<std::mutex> lock_;
};

// A condition variable waited on under a MutexLock. A predicate that reads
// guarded members says so: [this]() REQUIRES(mutex_) { ... }.
class CondVar {
 public:
  void notify_one() { variable_.notify_one(); }
  void notify_all() { variable_.notify_all(); }

  void wait(MutexLock& lock) { variable_.wait(lock.lock_); }
  template <typename Ready>
  void wait(MutexLock& lock, Ready ready) {
    variable_.wait(lock.lock_, std::move(ready));
  }
  template <typename Rep, typename Period>
  std::cv_status wait_for(MutexLock& lock, std::chrono::duration<Rep, Period> timeout) {
    return variable_.wait_for(lock.lock_, timeout);
  }
  template <typename Rep, typename Period, typename Ready>
  bool wait_for(MutexLock& lock, std::chrono::duration<Rep, Period> timeout, Ready ready) {
    return variable_.wait_for(lock.lock_, timeout, std::move(ready));
  }
  template <typename Clock, typename Duration>
  std::cv_status wait_until(MutexLock& lock, std::chrono::time_point<Clock, Duration> when) {
    return variable_.wait_until(lock.lock_, when);
  }

 private:
  std::condition_variable variable_;
};
