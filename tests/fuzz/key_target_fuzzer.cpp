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
  actions::setKeyPacing(std::chrono::milliseconds(0), actions::keyQueueLimit);
  config::GiftAction gift{"key", target, "", 100};
  const actions::KeyOutcome outcome = actions::pressKey("Gift", gift, actions::Clock::now());
  const auto presses = recording::presses();
  // A chord the target names is pressed, once; nothing else is. Its key
  // comes last, after modifiers that each appear once.
  FUZZ_CHECK((outcome == actions::KeyOutcome::Pressed) == key.has_value());
  FUZZ_CHECK(presses.size() == (key ? 1u : 0u));
  if (key) {
    FUZZ_CHECK(presses[0].chord == *key);
    for (std::size_t i = 0; i < key->size(); ++i) {
      const bool modifier = (*key)[i] >= platform::Key::Ctrl;
      FUZZ_CHECK(modifier == (i + 1 < key->size()));
      FUZZ_CHECK(std::count(key->begin(), key->end(), (*key)[i]) == 1);
    }
  }
  return 0;
}
