#pragma once

// What tests of the program's code share: its console captured, and a folder
// of the test process's own (test processes run in parallel).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/console.hpp"

namespace testing_support {

// The program's lines reach standard output from a thread of their own; a
// test reads once they are all written.
class ConsoleCapture {
 public:
  ConsoleCapture() : previous_((console::flush(), std::cout.rdbuf(&text_))) {}
  ~ConsoleCapture() { console::flush(), std::cout.rdbuf(previous_); }
  std::string text() const { return console::flush(), text_.str(); }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  // How many lines begin with the text.
  std::size_t count(const std::string& start) const {
    const auto all = lines();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(), [&](auto& l) { return l.starts_with(start); }));
  }

 private:
  std::stringbuf text_;
  std::streambuf* previous_;
};

// Waits, up to 10 s, for what threads of the program do after a reply.
template <typename Condition>
void waitUntil(Condition done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

inline std::filesystem::path scratchDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("koravel-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace testing_support
