#include "config/first_run.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include "config/config_file.hpp"
#include "support.hpp"

namespace {

// The file a first run writes for the token "a b&c".
std::string expectedFile() {
  std::ifstream golden(KORAVEL_DEFAULT_CONFIG, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(golden), {});
}

TEST(FirstRun, DefaultFileIsByteExactAndLoads) {
  EXPECT_EQ(config::defaultConfigText("a b&c"), expectedFile());
  // The token is escaped only as JSON requires.
  EXPECT_NE(config::defaultConfigText("q\"\\/\x01\t\x7F\xC3\xA9").find("\"q\\\"\\\\/\\u0001\\t\x7F\xC3\xA9\"\n}"),
            std::string::npos);
  const auto parsed = config::parseConfig(config::defaultConfigText(""));
  ASSERT_TRUE(std::holds_alternative<config::LoadedConfig>(parsed));
  EXPECT_EQ(std::get<config::LoadedConfig>(parsed).gifts.size(), 7u);
}

class FirstRunDialogue : public ::testing::Test {
 protected:
  void SetUp() override { previousInput_ = std::cin.rdbuf(&input_); }
  void TearDown() override {
    std::cin.rdbuf(previousInput_);
    std::cin.clear();
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_ = testing_support::scratchDir("first-run");
  std::string file_ = (dir_ / config::configFileName).string();
  std::stringbuf input_;
  std::streambuf* previousInput_ = nullptr;
  testing_support::ConsoleCapture console_;
};

TEST_F(FirstRunDialogue, AsksThenWritesThenSaysWhere) {
  input_.str("a b&c\nignored\n");
  ASSERT_TRUE(config::createDefaultConfig(file_));
  EXPECT_EQ(console_.text(),
            "\n=== CONFIGURATION INITIALE ===\nEntrez le token de votre compte Koravel : \n"
            "Fichier de configuration cree: " +
                file_ + "\n\nN'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!\n");
  EXPECT_EQ(config::readConfigFile(file_).text, expectedFile());
}

TEST_F(FirstRunDialogue, TheTokenAsTyped) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},  // the end of the input
      {"abc\r\n", "abc"},
      {"caf\xE9\ncaf\xC3\xA9\n", "caf\xC3\xA9"},  // Latin-1 is asked again
      {"\xC3\n\xED\xA0\x80\nok\n", "ok"},         // cut short, a surrogate
  };
  for (const auto& [typed, token] : cases) {
    input_.str(typed);
    std::cin.clear();
    ASSERT_TRUE(config::createDefaultConfig(file_));
    EXPECT_NE(config::readConfigFile(file_).text.find("\"token\": \"" + std::string(token) + "\"\n}"),
              std::string::npos)
        << typed;
  }
  EXPECT_EQ(console_.count("Entrez le token"), 7u);
  EXPECT_NE(console_.text().find("(texte non UTF-8). Tapez-le a nouveau.\nEntrez le token"), std::string::npos);
}

TEST_F(FirstRunDialogue, UnwritableFolderIsReportedAndNothingIsLeft) {
  input_.str("t\n");
  EXPECT_FALSE(config::createDefaultConfig((dir_ / "missing" / "c.json").string()));
  EXPECT_NE(console_.text().find("Impossible de creer le fichier de configuration " + (dir_ / "missing").string()),
            std::string::npos);
  EXPECT_EQ(console_.text().find("Fichier de configuration cree"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
