#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace testing_support {

// A fresh, empty folder of this test process's own: tests run as parallel
// processes must never share a file.
inline std::filesystem::path scratchDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("koravel-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace testing_support
