#include "common/console.hpp"

#include <iostream>
#include <mutex>

namespace console {
namespace {
std::mutex& outputMutex() {
  static std::mutex mutex;
  return mutex;
}
}  // namespace

void printLine(std::string_view line) { printLines({line}); }

void printLines(std::initializer_list<std::string_view> lines) {
  std::string whole;
  for (const auto line : lines) {
    whole.append(line);
    whole.push_back('\n');
  }
  std::lock_guard<std::mutex> lock(outputMutex());
  std::cout.write(whole.data(), static_cast<std::streamsize>(whole.size()));
  std::cout.flush();
}

void prompt(std::string_view text) {
  std::lock_guard<std::mutex> lock(outputMutex());
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout.flush();
}

bool readLine(std::string& line) {
  line.clear();
  if (!std::getline(std::cin, line)) {
    line.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace console
