#pragma once

// Captures what the program writes to standard output, line by line. The
// buffer takes its own lock, so lines written by server threads can be read
// while the server still runs.

#include <iostream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace testing_support {

class ConsoleCapture {
 public:
  ConsoleCapture() : previous_(std::cout.rdbuf(&buffer_)) {}
  ~ConsoleCapture() { std::cout.rdbuf(previous_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string text() { return buffer_.text(); }
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  // How many lines begin with the text.
  std::size_t count(const std::string& start) {
    std::size_t n = 0;
    for (const auto& line : lines()) n += line.rfind(start, 0) == 0 ? 1 : 0;
    return n;
  }

 private:
  class LockedBuffer : public std::streambuf {
   public:
    std::string text() {
      std::lock_guard<std::mutex> lock(mutex_);
      return text_;
    }

   protected:
    int_type overflow(int_type c) override {
      if (c != traits_type::eof()) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.push_back(static_cast<char>(c));
      }
      return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(s, static_cast<std::size_t>(n));
      return n;
    }

   private:
    std::mutex mutex_;
    std::string text_;
  };

  LockedBuffer buffer_;
  std::streambuf* previous_;
};

}  // namespace testing_support
