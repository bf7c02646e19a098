#include "common/console.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <thread>

namespace {

TEST(Console, TextFromOutsideIsShownWithoutControlsAndCut) {
  const std::string long120(120, 'x'), e = "\xC3\xA9";
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nCadeau recu: b", "a??Cadeau recu: b"},
      {"\x1B]52;c;Zm9v\x07\x7F", "?]52;c;Zm9v??"},
      {"C1 \xC2\x9B"
       "31m, NBSP \xC2\xA0",
       "C1 ?31m, NBSP \xC2\xA0"},                             // 8-bit CSI, then the first printable
      {"caf\xE9 \xF0\x9F\x8E\x81", "caf? \xF0\x9F\x8E\x81"},  // Latin-1, then a whole emoji
      {"\x80\xE2\x82", "???"},                                // a lone continuation byte; cut inside a character
      // Separators and direction marks at their ranges' ends; the neighbours U+2027, U+202F, U+2065, U+206A kept.
      {"\xE2\x80\xA8\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9", "????"},
      {"\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", "\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
      {long120, long120},
      {long120 + "y", long120 + "..."},
      {std::string(119, 'x') + e + e, std::string(119, 'x') + e + "..."},  // counted in characters
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(console::shown(text), shown) << text;
}

TEST(Console, LinesWaitWhileTheSinkIsBlockedAndWhatOverflowsIsCounted) {
  std::latch entered(1), released(1);
  std::string written;  // the writing thread's alone until the output is gone
  {
    console::Output output(
        [&](std::string_view text) {
          if (written.empty()) entered.count_down();
          released.wait();
          if (text.starts_with("again"))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // slow: the end waits
          written.append(text);
        },
        12);
    // The first line goes to the sink, which blocks; the next wait, up to 12
    // bytes; the rest (one line) are dropped. None of these calls waits.
    output.add("first\n");
    entered.wait();
    for (const char* line : {"a\n", "b\n", "c\n", "d\n", "e\n", "f\n", "g\n"}) output.add(line);
    released.count_down();
    output.flush();
    output.add("again\n");
  }
  EXPECT_EQ(written, "first\na\nb\nc\nd\ne\nf\n" + console::droppedLine(1) + "again\n");
  console::Output noThread([&](std::string_view text) { written = text; }, 12,
                           [](std::function<void()>) {
                             throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                           });
  noThread.add("now\n");  // no thread to spare: the caller writes
  EXPECT_EQ(written, "now\n");
}

}  // namespace
