#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace config {

// What one configured gift does when it arrives.
struct GiftAction {
  std::string action;       // "key" or "webhook"; other words are refused on arrival
  std::string target;       // the key to press, or the address to call
  std::string sound;        // MP3 to play first; empty for none
  std::int32_t volume = 0;  // percent; the file's default is 100
};

// Gift name (exact bytes, case-sensitive) to its settings.
using GiftTable = std::map<std::string, GiftAction>;

}  // namespace config
