#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "config/gift_action.hpp"

namespace config {

inline constexpr const char* configFileName = "Koravel_KEY_WEBHOOK_config.json";

struct LoadedConfig {
  std::string token;
  GiftTable gifts;
  std::string secret;  // what each request must carry; empty for none
};

// Why a configuration cannot be used, as one French sentence for the console.
struct ConfigProblem {
  std::string cause;
};

// Reads a configuration document: the first JSON value of the text (a UTF-8
// byte-order mark is skipped, whatever follows the value is ignored).
std::variant<LoadedConfig, ConfigProblem> parseConfig(std::string_view text);

enum class FileState { Read, Absent, Unreadable };
struct FileRead {
  FileState state = FileState::Absent;
  std::string text;    // the content when Read
  std::string reason;  // the system's reason when Unreadable
};
// Reads the whole file as a text stream.
FileRead readConfigFile(const std::string& path);

// Writes a new file whole or not at all: the text goes to a temporary file in
// the same folder, which is then renamed into place. Answers the system's
// reason on failure, the empty text on success.
std::string writeFileAtomically(const std::string& path, std::string_view text);

}  // namespace config
