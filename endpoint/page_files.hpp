#pragma once

#include <span>
#include <string_view>

namespace endpoint {

// One of the control page's files, built into the program.
struct PageFile {
  std::string_view path;  // "/index.html"
  std::string_view bytes;
};

std::span<const PageFile> pageFiles();

}  // namespace endpoint
