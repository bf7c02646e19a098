#include "config/first_run.hpp"

#include <gtest/gtest.h>

#include <iostream>

#include "config/config_file.hpp"
#include "support.hpp"

namespace {

// The file's end holds the token as typed, escaped only as JSON requires.
TEST(FirstRun, TheTokenAsTyped) {
  testing_support::ConsoleCapture console;
  const auto dir = testing_support::scratchDir("first-run");
  const std::string file = (dir / config::configFileName).string();
  std::stringbuf input;
  std::streambuf* const previous = std::cin.rdbuf(&input);
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},  // the end of the input
      {"abc\r\nignored\n", "abc"},
      {"q\"\\/\x01\t\x7F\xC3\xA9\n", "q\\\"\\\\/\\u0001\\t\x7F\xC3\xA9"},
      {"caf\xE9\ncaf\xC3\xA9\n", "caf\xC3\xA9"},  // Latin-1 is asked again
      {"\xC3\n\xED\xA0\x80\nok\n", "ok"},         // cut short, a surrogate
  };
  for (const auto& [typed, token] : cases) {
    input.str(typed);
    std::cin.clear();
    ASSERT_TRUE(config::createDefaultConfig(file));
    const std::string text = config::readConfigFile(file).text;
    EXPECT_EQ(text.substr(text.rfind("\"token\"")), "\"token\": \"" + std::string(token) + "\"\n}") << typed;
  }
  std::cin.rdbuf(previous);
  std::cin.clear();
  EXPECT_EQ(console.count("Entrez le token"), 8u);
  EXPECT_NE(console.text().find("(texte non UTF-8). Tapez-le a nouveau.\nEntrez le token"), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
