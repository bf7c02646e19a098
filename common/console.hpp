#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "common/thread_safety.hpp"

// The program's console: every message goes to standard output, one whole
// line per call. A line is composed before it is written, so the lines of two
// gifts served at the same time never mix inside a line.
//
// No gift ever waits for the console: a console that is not read (a pipe
// nobody empties, a window where the streamer started a selection) would
// otherwise stop every gift at its first line. Lines wait in a bounded buffer
// and go out in order as soon as the console takes them.
namespace console {

void printLine(std::string_view line);
// Lines that belong together, written at once: nothing comes between them.
void printLines(std::span<const std::string_view> lines);
// A question whose answer is typed on the same line: no line end. Waits until
// the question is shown.
void prompt(std::string_view text);
// One line of standard input without its line end (nor a CR before it);
// nothing at the end of the input.
bool readLine(std::string& line);
// Waits until every line printed so far has been written.
void flush();

// Asked before the program ends on an error in a window opened for it alone
// (a double-click), which would otherwise close before the error is read.
inline constexpr std::string_view pressEnterToClose = "\nAppuyez sur Entree pour fermer cette fenetre...";

// Text the program did not write itself (a gift's name, an address, a file
// name, a remote's error), made safe to print: control characters, and bytes
// that are not UTF-8, are shown as '?', so that no line break forges a line
// and no escape sequence reaches the terminal; cut after `limit` characters,
// then "...".
inline constexpr std::size_t shownLength = 120;
std::string shown(std::string_view text, std::size_t limit = shownLength);

// Lines on their way to a sink that may block for a long time. Adding never
// waits: one thread hands the sink everything that piled up while it was
// busy, in one write. Beyond `capacity` bytes waiting, lines are dropped, and
// counted in one line once the sink takes lines again.
class Output {
 public:
  using Sink = std::function<void(std::string_view text)>;
  // Starts the writing thread, detached (the tests make it fail).
  using ThreadStarter = std::function<void(std::function<void()> run)>;
  Output(
      Sink sink, std::size_t capacity,
      ThreadStarter startThread = [](std::function<void()> run) { std::thread(std::move(run)).detach(); });
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  // Waits for the writing thread to have handed the sink everything.
  ~Output();

  void add(std::string_view text);
  void flush();

 private:
  void write();
  // Hands the sink what waits, outside the lock.
  void writeBatch() REQUIRES(mutex_);

  const Sink sink_;
  const std::size_t capacity_;
  const ThreadStarter startThread_;
  Mutex mutex_;
  CondVar wake_, drained_;
  std::string pending_ GUARDED_BY(mutex_);
  std::size_t dropped_ GUARDED_BY(mutex_) = 0;
  bool running_ GUARDED_BY(mutex_) = false;   // the writing thread exists
  bool idle_ GUARDED_BY(mutex_) = false;      // it sleeps until a line wakes it
  bool writing_ GUARDED_BY(mutex_) = false;   // it is in the sink
  bool stopping_ GUARDED_BY(mutex_) = false;  // the object is going away
};

// What stands in for lines dropped while the console took none.
std::string droppedLine(std::size_t count);

}  // namespace console
