#pragma once

#include <string>
#include <string_view>

#include "common/result.hpp"

namespace config {

// The win-counter service that the default webhook gifts call. A reserved
// name, so that no token is ever sent to a stranger's server: replace it with
// the real service's address before use.
inline constexpr std::string_view winCounterService = "https://win-counter.example";

// True when the text is valid UTF-8, and so can be stored in the file.
bool isUtf8(std::string_view text);

// The created configuration file's text: the token and the seven default
// gifts, members in ascending order, indented by 4, no final line end.
std::string defaultConfigText(const std::string& token);

// The first-run dialogue: asks for the account token and writes the file
// whole; fails with the system's reason when the file could not be written.
Result<> createDefaultConfig(const std::string& path);

}  // namespace config
