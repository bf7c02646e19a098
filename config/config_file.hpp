#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.hpp"
#include "config/gift_action.hpp"

namespace config {

inline constexpr const char* configFileName = "Koravel_KEY_WEBHOOK_config.json";
// Where the relay sends its gifts unless the file names another port.
inline constexpr int defaultPort = 5000;

struct LoadedConfig {
  std::string token;
  GiftTable gifts;
  std::string secret;  // what each request must carry; empty for none
  int port = defaultPort;
  std::string soundDevice = {};  // the output device sounds go to; empty for the system's default
  EventTable events = {};
  std::vector<Goal> goals = {};  // in the file's order
  // What an overlay's address carries when OBS loads it from another
  // computer; empty: overlays answer this machine alone.
  std::string overlayKey = {};
};

// Reads a configuration document: the first JSON value of the text (a UTF-8
// byte-order mark is skipped, whatever follows the value is ignored). A
// failure's reason is one French sentence for the console.
Result<LoadedConfig> parseConfig(std::string_view text);

// True when nothing at all has the name: a file that cannot be read is there.
bool isAbsent(const std::string& path);
// The whole file, read as a text stream.
Result<std::string> readConfigFile(const std::string& path);

}  // namespace config
