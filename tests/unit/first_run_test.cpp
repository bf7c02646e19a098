#include "config/first_run.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "config/config_file.hpp"
#include "console_capture.hpp"
#include "scratch.hpp"

namespace {

const char* const expectedFile = R"({
    "gifts": {
        "Coeur sur toi": {
            "action": "key",
            "sound": "sounds/coeur.mp3",
            "target": "g",
            "volume": 100
        },
        "Drift en voiture": {
            "action": "webhook",
            "sound": "sounds/drift.mp3",
            "target": "https://win-counter.example/addwinv2.php?win=10&token=a b&c",
            "volume": 100
        },
        "Gants de boxe dores": {
            "action": "key",
            "sound": "sounds/boxe.mp3",
            "target": "n",
            "volume": 90
        },
        "Gerry la girafe": {
            "action": "webhook",
            "sound": "sounds/girafe.mp3",
            "target": "https://win-counter.example/addwinv2.php?win=5&token=a b&c",
            "volume": 100
        },
        "Rose": {
            "action": "key",
            "sound": "sounds/rose.mp3",
            "target": "g",
            "volume": 100
        },
        "TikTok": {
            "action": "key",
            "sound": "sounds/tiktok.mp3",
            "target": "space",
            "volume": 80
        },
        "Tu es incroyable": {
            "action": "webhook",
            "sound": "sounds/incroyable.mp3",
            "target": "https://win-counter.example/addwinv2.php?win=1&token=a b&c",
            "volume": 100
        }
    },
    "token": "a b&c"
})";

TEST(FirstRun, DefaultFileIsByteExact) { EXPECT_EQ(config::defaultConfigText("a b&c"), expectedFile); }

TEST(FirstRun, TokenIsEscapedOnlyAsJsonRequires) {
  const std::string text = config::defaultConfigText("q\"\\/\x01\t\x7F\xC3\xA9");
  EXPECT_NE(text.find(R"("token": "q\"\\/\u0001\t)"
                      "\x7F\xC3\xA9\"\n}"),
            std::string::npos)
      << text;
}

TEST(FirstRun, DefaultFileLoadsWithSevenGifts) {
  auto parsed = config::parseConfig(config::defaultConfigText(""));
  ASSERT_TRUE(std::holds_alternative<config::LoadedConfig>(parsed));
  const auto& loaded = std::get<config::LoadedConfig>(parsed);
  EXPECT_EQ(loaded.gifts.size(), 7u);
  EXPECT_EQ(loaded.gifts.at("Tu es incroyable").target, "https://win-counter.example/addwinv2.php?win=1&token=");
}

TEST(FirstRun, Utf8Check) {
  EXPECT_TRUE(config::isUtf8(""));
  EXPECT_TRUE(config::isUtf8("caf\xC3\xA9"));
  EXPECT_FALSE(config::isUtf8("caf\xE9"));       // Latin-1
  EXPECT_FALSE(config::isUtf8("\xC3"));          // cut short
  EXPECT_FALSE(config::isUtf8("\xED\xA0\x80"));  // surrogate
}

class FirstRunDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing_support::scratchDir("first-run");
    previousInput_ = std::cin.rdbuf(&input_);
  }
  void TearDown() override {
    std::cin.rdbuf(previousInput_);
    std::cin.clear();
    std::filesystem::remove_all(dir_);
  }
  void type(const std::string& text) { input_.str(text); }
  std::string file() const { return (dir_ / config::configFileName).string(); }

  std::filesystem::path dir_;
  std::stringbuf input_;
  std::streambuf* previousInput_ = nullptr;
  testing_support::ConsoleCapture console_;
};

TEST_F(FirstRunDialogue, AsksThenWritesThenSaysWhere) {
  type("a b&c\nignored\n");
  ASSERT_TRUE(config::createDefaultConfig(file()));
  EXPECT_EQ(console_.text(),
            "\n=== CONFIGURATION INITIALE ===\n"
            "Entrez le token de votre compte Koravel : "
            "\nFichier de configuration cree: " +
                file() +
                "\n"
                "\nN'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!\n");
  EXPECT_EQ(config::readConfigFile(file()).text, expectedFile);
}

TEST_F(FirstRunDialogue, EndOfInputGivesTheEmptyToken) {
  type("");
  ASSERT_TRUE(config::createDefaultConfig(file()));
  EXPECT_NE(config::readConfigFile(file()).text.find("\"token\": \"\"\n}"), std::string::npos);
}

TEST_F(FirstRunDialogue, WindowsLineEndIsNotPartOfTheToken) {
  type("abc\r\n");
  ASSERT_TRUE(config::createDefaultConfig(file()));
  EXPECT_NE(config::readConfigFile(file()).text.find("\"token\": \"abc\"\n}"), std::string::npos);
}

TEST_F(FirstRunDialogue, TokenThatIsNotUtf8IsAskedAgain) {
  type("caf\xE9\ncaf\xC3\xA9\n");
  ASSERT_TRUE(config::createDefaultConfig(file()));
  const auto lines = console_.lines();
  EXPECT_NE(console_.text().find("(texte non UTF-8). Tapez-le a nouveau.\nEntrez le token"), std::string::npos);
  EXPECT_NE(config::readConfigFile(file()).text.find("\"token\": \"caf\xC3\xA9\"\n}"), std::string::npos);
}

TEST_F(FirstRunDialogue, UnwritableFolderIsReportedAndNothingIsLeft) {
  type("t\n");
  const std::string inMissingFolder = (dir_ / "missing" / config::configFileName).string();
  EXPECT_FALSE(config::createDefaultConfig(inMissingFolder));
  EXPECT_NE(console_.text().find("Impossible de creer le fichier de configuration " + inMissingFolder + " : "),
            std::string::npos);
  EXPECT_EQ(console_.text().find("Fichier de configuration cree"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
