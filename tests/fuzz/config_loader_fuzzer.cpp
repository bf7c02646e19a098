// The configuration file's reading, on any bytes: either a cause for the
// console, or a table that holds exactly what the file says.
#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "fuzz_check.hpp"

namespace {

using nlohmann::json;

// The gift table against the document read on its own.
void checkAgainstDocument(const std::string& text, const config::LoadedConfig& loaded) {
  json document;
  std::istringstream stream(text);
  stream >> document;
  FUZZ_CHECK(document.is_object());
  FUZZ_CHECK(document.at("token").get<std::string>() == loaded.token);
  const auto gifts = document.find("gifts");
  if (gifts == document.end() || !gifts->is_object()) {
    FUZZ_CHECK(loaded.gifts.empty());
    return;
  }
  FUZZ_CHECK(gifts->size() == loaded.gifts.size());
  for (const auto& [name, gift] : loaded.gifts) {
    const json& entry = gifts->at(name);
    FUZZ_CHECK(entry.at("action").get<std::string>() == gift.action);
    FUZZ_CHECK(entry.at("target").get<std::string>() == gift.target);
    FUZZ_CHECK(entry.value("sound", std::string()) == gift.sound);
    const auto volume = entry.find("volume");
    if (volume == entry.end()) {
      FUZZ_CHECK(gift.volume == 100);
    } else if (volume->is_boolean()) {
      FUZZ_CHECK(gift.volume == (volume->get<bool>() ? 1 : 0));
    } else {
      FUZZ_CHECK(static_cast<double>(gift.volume) == std::trunc(volume->get<double>()));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto parsed = config::parseConfig(text);
  if (const auto* problem = std::get_if<config::ConfigProblem>(&parsed)) {
    FUZZ_CHECK(!problem->cause.empty());
  } else {
    checkAgainstDocument(text, std::get<config::LoadedConfig>(parsed));
  }

  // The first run's file, whatever UTF-8 token was typed, reads back as that
  // token and the seven default gifts.
  if (config::isUtf8(text)) {
    const auto created = config::parseConfig(config::defaultConfigText(text));
    const auto* loaded = std::get_if<config::LoadedConfig>(&created);
    FUZZ_CHECK(loaded != nullptr);
    FUZZ_CHECK(loaded->token == text && loaded->gifts.size() == 7);
  }
  return 0;
}
