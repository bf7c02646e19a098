#pragma once

// What every test of the program's code needs: its console captured (from
// any thread), and a folder of its own, since test processes run in parallel.

#include <unistd.h>

#include <algorithm>
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
    const auto all = lines();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(), [&](const auto& line) { return line.rfind(start, 0) == 0; }));
  }

 private:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    const char byte = static_cast<char>(c);
    if (c != traits_type::eof()) xsputn(&byte, 1);
    return c;
  }

  std::mutex mutex_;
  std::string text_;
  std::streambuf* previous_;
};

inline std::filesystem::path scratchDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("koravel-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace testing_support
