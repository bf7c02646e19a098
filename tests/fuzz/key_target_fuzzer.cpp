// The key a gift's target names, and the key strokes sent for it.
#include <algorithm>
#include <cctype>
#include <string>

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

bool sameChoice(const std::optional<actions::KeyChoice>& a, const std::optional<actions::KeyChoice>& b) {
  if (!a || !b) return !a && !b;
  return a->letter == b->letter && a->virtualKey == b->virtualKey && a->extended == b->extended;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string target(reinterpret_cast<const char*>(data), size);
  const auto choice = actions::parseKeyTarget(target);
  if (choice) {
    FUZZ_CHECK(choice->letter == 0 || (choice->letter >= 'a' && choice->letter <= 'z'));
    FUZZ_CHECK(choice->letter != 0 || choice->virtualKey != 0);
  }
  // Case never matters.
  FUZZ_CHECK(sameChoice(choice, actions::parseKeyTarget(lowerAscii(target))));

  recording::reset();
  recording::skipSleeps();
  const bool pressed = actions::pressKey(target);
  const auto events = recording::keyEvents();
  if (!pressed) {
    FUZZ_CHECK(events.empty());
    return 0;
  }
  // One stroke: the key goes down, then the same key comes up.
  FUZZ_CHECK(choice.has_value());
  FUZZ_CHECK(events.size() == 2);
  FUZZ_CHECK(events[0].virtualKey == events[1].virtualKey && events[0].scan == events[1].scan);
  FUZZ_CHECK((events[0].flags & platform::keyEventKeyUp) == 0);
  FUZZ_CHECK((events[1].flags & platform::keyEventKeyUp) != 0);
  FUZZ_CHECK((events[0].flags & platform::keyEventExtended) == (events[1].flags & platform::keyEventExtended));
  return 0;
}
