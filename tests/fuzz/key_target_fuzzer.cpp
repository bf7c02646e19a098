// The key a gift's target names, and the press made for it.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "actions/key_press.hpp"
#include "fuzz_check.hpp"
#include "platform/platform.hpp"
#include "recording_platform.hpp"

namespace {

std::string lowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string target(reinterpret_cast<const char*>(data), size);
  const auto key = actions::parseKeyTarget(target);
  // Case never matters.
  FUZZ_CHECK(key == actions::parseKeyTarget(lowerAscii(target)));

  recording::reset();
  recording::skipSleeps();
  const actions::KeyOutcome outcome = actions::pressKey(target);
  const auto presses = recording::presses();
  // A key the target names is pressed, once and alone; nothing else is.
  FUZZ_CHECK((outcome == actions::KeyOutcome::Pressed) == key.has_value());
  FUZZ_CHECK(presses.size() == (key ? 1u : 0u));
  if (key) FUZZ_CHECK(presses[0].chord == std::vector<platform::Key>{*key});
  return 0;
}
