#pragma once

// What each system's handlers of a fatal fault share: the console line, and
// the end of an exception nothing caught. The line is composed without
// allocating and written straight to standard output, past the console's
// buffer: it is written from a signal handler or an exception filter, where
// the heap or the console's lock may be what failed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

class FatalLine {
 public:
  // `kind` says what happened; `address` where, the faulting instruction's
  // or the memory it touched (0 when there is none to say).
  FatalLine(std::string_view kind, std::uintptr_t address);
  std::string_view text() const { return {text_.data(), size_}; }

 private:
  void add(std::string_view part);
  std::array<char, 256> text_{};
  std::size_t size_ = 0;
};

// Writes the line and its line end to standard output, at most once in the
// program's life: a fault while telling one, or the abort that follows an
// uncaught exception, says nothing more.
void writeFatalLine(const FatalLine& line);
// Written by each system (a plain write, safe in a signal handler).
void writeToStandardOutput(std::string_view text);

// An exception nothing caught: its line, then the end it would have had.
void tellUncaughtExceptions();

}  // namespace platform
