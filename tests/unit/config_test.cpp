#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "config/config_file.hpp"
#include "recording_platform.hpp"
#include "scratch.hpp"

namespace {

using config::ConfigProblem;
using config::LoadedConfig;

LoadedConfig mustLoad(std::string_view text) {
  auto result = config::parseConfig(text);
  if (auto* problem = std::get_if<ConfigProblem>(&result)) {
    ADD_FAILURE() << "refused: " << problem->cause << "\nfor: " << text;
    return {};
  }
  return std::get<LoadedConfig>(result);
}

std::string mustRefuse(std::string_view text) {
  auto result = config::parseConfig(text);
  if (std::holds_alternative<LoadedConfig>(result)) {
    ADD_FAILURE() << "loaded: " << text;
    return {};
  }
  return std::get<ConfigProblem>(result).cause;
}

TEST(ConfigParse, ReadsEveryMemberOfAGift) {
  const auto loaded = mustLoad(R"({"token": "abc", "gifts": {
      "Rose": {"action": "key", "target": "g", "sound": "sounds/rose.mp3", "volume": 80, "extra": 1}},
      "other": true, "secret": "s3cret"})");
  EXPECT_EQ(loaded.token, "abc");
  EXPECT_EQ(loaded.secret, "s3cret");
  ASSERT_EQ(loaded.gifts.size(), 1u);
  const auto& rose = loaded.gifts.at("Rose");
  EXPECT_EQ(rose.action, "key");
  EXPECT_EQ(rose.target, "g");
  EXPECT_EQ(rose.sound, "sounds/rose.mp3");
  EXPECT_EQ(rose.volume, 80);
}

TEST(ConfigParse, SoundAndVolumeHaveDefaults) {
  const auto loaded = mustLoad(R"({"token": "", "gifts": {"A": {"action": "webhook", "target": "x"}}})");
  EXPECT_EQ(loaded.gifts.at("A").sound, "");
  EXPECT_EQ(loaded.gifts.at("A").volume, 100);
  EXPECT_EQ(loaded.secret, "");
}

TEST(ConfigParse, NoGiftsInManyForms) {
  for (const char* text : {R"({"token": "t"})", R"({"token": "t", "gifts": null})", R"({"token": "t", "gifts": {}})",
                           R"({"token": "t", "gifts": []})"}) {
    EXPECT_TRUE(mustLoad(text).gifts.empty()) << text;
  }
}

TEST(ConfigParse, VolumeIsTruncatedIntegerOrBoolean) {
  const std::pair<const char*, int> cases[] = {
      {"75.9", 75}, {"-5", -5}, {"250", 250}, {"true", 1}, {"false", 0}, {"-0.9", 0}, {"2147483647", 2147483647}};
  for (const auto& [literal, expected] : cases) {
    const std::string text =
        std::string(R"({"token": "t", "gifts": {"A": {"action": "key", "target": "a", "volume": )") + literal + "}}}";
    EXPECT_EQ(mustLoad(text).gifts.at("A").volume, expected) << literal;
  }
}

TEST(ConfigParse, NamesAreExactBytes) {
  const auto loaded = mustLoad(
      R"({"token": "t", "gifts": {"rose": {"action": "key", "target": "a"}, "Rose": {"action": "key", "target": "b"},
          "Rose ": {"action": "key", "target": "c"}, "C\u0153ur": {"action": "key", "target": "d"}}})");
  EXPECT_EQ(loaded.gifts.size(), 4u);
  EXPECT_EQ(loaded.gifts.at("Rose").target, "b");
  EXPECT_EQ(loaded.gifts.at("Rose ").target, "c");
  EXPECT_EQ(loaded.gifts.at("C\xC5\x93ur").target, "d");
}

TEST(ConfigParse, ByteOrderMarkAndTrailingTextAreAccepted) {
  EXPECT_EQ(mustLoad("\xEF\xBB\xBF{\"token\": \"t\"}").token, "t");
  EXPECT_EQ(mustLoad("{\"token\": \"t\"} garbage { here").token, "t");
}

// Each refusal names what is wrong, so that the streamer can find it.
TEST(ConfigParse, RefusalsSayWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "JSON"},
      {"{\"token\": \"t\",}", "line 1, column 15"},
      {"{\n  \"token\": \"t\"\n  \"gifts\": {}\n}", "line 3"},
      {"{\"token\": \"t\" /* note */}", "JSON"},
      {"{\"token\": \"\xFF\"}", "JSON"},
      {"[1, 2]", "objet JSON"},
      {"\xFF\xFE{", "UTF-16"},  // the rest would hold NULs
      {"\xFE\xFF", "UTF-16"},
      {"{}", "\"token\""},
      {"{\"token\": 5}", "\"token\" doit etre un texte"},
      {"{\"token\": \"t\", \"secret\": 1234}", "\"secret\" doit etre un texte"},
      {"{\"token\": \"t\", \"gifts\": [1]}", "\"gifts\""},
      {"{\"token\": \"t\", \"gifts\": \"x\"}", "\"gifts\""},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": null}}", "\"Rose\" doit etre un objet"},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"target\": \"g\"}}}", "\"Rose\" n'a pas de champ \"action\""},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": \"key\"}}}", "\"Rose\" n'a pas de champ \"target\""},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": 1, \"target\": \"g\"}}}",
       "\"action\" du cadeau \"Rose\""},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": \"key\", \"target\": \"g\", \"sound\": null}}}",
       "\"sound\" du cadeau \"Rose\""},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": \"key\", \"target\": \"g\", \"volume\": \"80\"}}}",
       "\"volume\" du cadeau \"Rose\" doit etre un nombre"},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": \"key\", \"target\": \"g\", \"volume\": 1e20}}}",
       "\"volume\" du cadeau \"Rose\" est un nombre"},
      {"{\"token\": \"t\", \"gifts\": {\"Rose\": {\"action\": \"key\", \"target\": \"g\", \"volume\": 2147483648}}}",
       "\"volume\" du cadeau \"Rose\" est un nombre"},
  };
  for (const auto& [text, expectedPart] : cases) {
    const std::string cause = mustRefuse(text);
    EXPECT_NE(cause.find(expectedPart), std::string::npos) << "cause: " << cause << "\nfor: " << text;
  }
}

TEST(ConfigParse, HoldRepeatAndCooldownWithinTheirRanges) {
  const auto gift = [](const std::string& members) {
    return R"({"token": "t", "gifts": {"Rose": {"action": "key", "target": "g")" + members + "}}}";
  };
  const config::GiftAction plain = mustLoad(gift("")).gifts.at("Rose");
  EXPECT_EQ(plain.hold, std::chrono::milliseconds(50));
  EXPECT_EQ(plain.repeat, 1);
  EXPECT_EQ(plain.cooldown, std::chrono::milliseconds(0));
  const config::GiftAction set =
      mustLoad(gift(R"(, "hold": 5000, "repeat": 50, "cooldown": 86400000)")).gifts.at("Rose");
  EXPECT_EQ(set.hold, std::chrono::milliseconds(5000));
  EXPECT_EQ(set.repeat, 50);
  EXPECT_EQ(set.cooldown, std::chrono::milliseconds(86'400'000));
  EXPECT_EQ(mustLoad(gift(R"(, "hold": 10, "repeat": 1, "cooldown": 0)")).gifts.at("Rose").hold,
            std::chrono::milliseconds(10));

  const std::pair<const char*, const char*> refused[] = {
      {R"("hold": 9)", "\"hold\" du cadeau \"Rose\" doit etre un nombre entier de 10 a 5000"},
      {R"("hold": 5001)", "\"hold\""},
      {R"("hold": 50.5)", "\"hold\""},
      {R"("hold": "50")", "\"hold\""},
      {R"("hold": true)", "\"hold\""},
      {R"("repeat": 0)", "\"repeat\" du cadeau \"Rose\" doit etre un nombre entier de 1 a 50"},
      {R"("repeat": 51)", "\"repeat\""},
      {R"("repeat": 18446744073709551615)", "\"repeat\""},
      {R"("cooldown": -1)", "\"cooldown\" du cadeau \"Rose\" doit etre un nombre entier de 0 a 86400000"},
      {R"("cooldown": null)", "\"cooldown\""},
  };
  for (const auto& [member, expectedPart] : refused) {
    const std::string cause = mustRefuse(gift(std::string(", ") + member));
    EXPECT_NE(cause.find(expectedPart), std::string::npos) << "cause: " << cause << "\nfor: " << member;
  }
}

TEST(ConfigParse, CauseQuotesOnlyTheEndOfALongString) {
  const std::string cause = mustRefuse("{\"token\": \"" + std::string(1'000'000, 'x') + "\xC3\xA9");
  EXPECT_LT(cause.size(), 400u) << cause;
  EXPECT_NE(cause.find("line 1, column"), std::string::npos) << cause;
  EXPECT_NE(cause.find("last read: '...xxx"), std::string::npos) << cause;
}

TEST(ConfigParse, OneBadGiftRefusesTheWholeFile) {
  mustRefuse(R"({"token": "t", "gifts": {"A": {"action": "key", "target": "a"}, "B": {"action": "key"}}})");
}

class ConfigFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing_support::scratchDir("config"); }
  void TearDown() override {
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(dir_);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

TEST_F(ConfigFiles, TellsAbsentFromUnreadable) {
  EXPECT_EQ(config::readConfigFile(path("none.json")).state, config::FileState::Absent);
  std::filesystem::create_directory(path("folder.json"));
  EXPECT_EQ(config::readConfigFile(path("folder.json")).state, config::FileState::Unreadable);
  std::ofstream(path("ok.json")) << "{\"token\": \"t\"}";
  const auto read = config::readConfigFile(path("ok.json"));
  EXPECT_EQ(read.state, config::FileState::Read);
  EXPECT_EQ(read.text, "{\"token\": \"t\"}");
}

TEST_F(ConfigFiles, AtomicWriteLeavesTheWholeFileAndNoTemporary) {
  recording::reset();
  std::string flushed;
  recording::answerFlush([&flushed](const std::string& file) {
    flushed = file;
    return std::string();
  });
  EXPECT_EQ(config::writeFileAtomically(path("c.json"), "hello\nworld"), "");
  // The content reached the disk under the temporary name, before the rename.
  EXPECT_EQ(flushed, path("c.json.tmp"));
  EXPECT_EQ(config::readConfigFile(path("c.json")).text, "hello\nworld");
  EXPECT_FALSE(std::filesystem::exists(path("c.json.tmp")));
}

TEST_F(ConfigFiles, ContentThatDoesNotReachTheDiskIsNotRenamedIntoPlace) {
  recording::reset();
  recording::answerFlush([](const std::string&) { return std::string("disque plein"); });
  EXPECT_EQ(config::writeFileAtomically(path("c.json"), "x"), "disque plein");
  EXPECT_FALSE(std::filesystem::exists(path("c.json")));
  EXPECT_FALSE(std::filesystem::exists(path("c.json.tmp")));
  recording::reset();
}

TEST_F(ConfigFiles, FailedWriteSaysWhyAndLeavesNothing) {
  if (::geteuid() == 0) {
    // root writes anywhere; a missing folder fails for everyone.
    const std::string reason = config::writeFileAtomically(path("missing/c.json"), "x");
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(std::filesystem::exists(path("missing")));
    return;
  }
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_FALSE(config::writeFileAtomically(path("c.json"), "x").empty());
  EXPECT_FALSE(std::filesystem::exists(path("c.json")));
}

}  // namespace

namespace {
TEST_F(ConfigFiles, RenameFailureRemovesTheTemporary) {
  std::filesystem::create_directories(path("c.json") + std::string("/inside"));
  EXPECT_FALSE(config::writeFileAtomically(path("c.json"), "x").empty());
  EXPECT_FALSE(std::filesystem::exists(path("c.json.tmp")));
  EXPECT_TRUE(std::filesystem::is_directory(path("c.json")));
}
}  // namespace
