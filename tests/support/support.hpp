#pragma once

// What every test of the program's code needs: its console captured line by
// line (from any thread), and a folder of its own.

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

class ConsoleCapture : private std::streambuf {
 public:
  ConsoleCapture() : previous_(std::cout.rdbuf(this)) {}
  ~ConsoleCapture() override { std::cout.rdbuf(previous_); }

  std::string text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
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
  int_type overflow(int_type c) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (c != traits_type::eof()) text_.push_back(static_cast<char>(c));
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

  std::mutex mutex_;
  std::string text_;
  std::streambuf* previous_;
};

// A fresh, empty folder of this test process's own: tests run as parallel
// processes must never share a file.
inline std::filesystem::path scratchDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("koravel-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace testing_support
