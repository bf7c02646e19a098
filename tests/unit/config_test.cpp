#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <system_error>
#include <thread>

#include "actions/gift_check.hpp"
#include "app/config_reload.hpp"
#include "config/config_edit.hpp"
#include "config/config_file.hpp"
#include "recording_platform.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

config::LoadedConfig mustLoad(const std::string& text) {
  const auto result = config::parseConfig(text);
  EXPECT_TRUE(result) << testing::PrintToString(text);
  return result ? *result : config::LoadedConfig{};
}

std::string gifts(const std::string& members) { return R"({"token": "t", "gifts": {)" + members + "}}"; }
std::string rose(const std::string& extra) { return gifts(R"("Rose": {"action": "key", "target": "g")" + extra + "}"); }

TEST(ConfigParse, ReadsEveryMemberAndTheDefaults) {
  const auto loaded = mustLoad(R"({"token": "abc", "secret": "s3cret", "port": 65535, "other": true,
      "soundDevice": "Casque", "gifts": {
      "Rose": {"action": "key", "target": "g", "sound": "s/rose.mp3", "volume": 80.9, "hold": 5000, "repeat": 50,
               "cooldown": 86400000, "extra": 1, "soundMode": "replace", "soundSeconds": 60},
      "rose": {"action": "webhook", "target": "x"}, "C\u0153ur ": {"action": "key", "target": "d"}}})");
  EXPECT_EQ(loaded.token, "abc");
  EXPECT_EQ(std::tie(loaded.secret, loaded.port), std::make_tuple("s3cret", 65535));
  EXPECT_EQ(mustLoad(R"({"token": "t", "port": 1})").port, 1);
  EXPECT_EQ(mustLoad(R"({"token": "t"})").port, 5000);
  const auto& set = loaded.gifts.at("Rose");
  EXPECT_EQ(std::tie(set.action, set.target, set.sound, set.volume), std::make_tuple("key", "g", "s/rose.mp3", 80));
  EXPECT_EQ(std::tie(set.hold, set.repeat, set.cooldown), std::make_tuple(5000ms, 50, 86'400'000ms));
  const auto& plain = loaded.gifts.at("rose");
  EXPECT_EQ(std::tie(plain.sound, plain.volume), std::make_tuple("", 100));
  EXPECT_EQ(std::tie(plain.hold, plain.repeat, plain.cooldown), std::make_tuple(50ms, 1, 0ms));
  EXPECT_EQ(std::tie(set.soundMode, set.soundSeconds, loaded.soundDevice),
            std::make_tuple(config::SoundMode::Replace, 60s, "Casque"));
  EXPECT_EQ(std::tie(plain.soundMode, plain.soundSeconds), std::make_tuple(config::SoundMode::Overlap, 10s));
  EXPECT_EQ(loaded.gifts.at("C\xC5\x93ur ").target, "d");
  // A volume is a whole number, or a boolean; -0 is 0.
  EXPECT_EQ(mustLoad(rose(R"(, "hold": 10, "repeat": 1, "cooldown": -0, "soundSeconds": 1)")).gifts.at("Rose").hold,
            10ms);
  const auto volume = [](std::string v) { return mustLoad(rose(", \"volume\": " + v)).gifts.at("Rose").volume; };
  EXPECT_EQ(std::tuple(volume("-2147483648.9"), volume("true"), volume("false"), volume("2147483647"),
                       volume("2147483647.5"), volume("-5"), volume("-2147483648")),
            std::tuple(INT32_MIN, 1, 0, INT32_MAX, INT32_MAX, -5, INT32_MIN));
  EXPECT_EQ(mustLoad("\xEF\xBB\xBF{\"token\": \"t\"} trailing { text").token, "t");
  // A window rule is the gift's own, even empty, or else the file's.
  const auto windows = mustLoad(R"({"token": "t", "window": "game.exe", "gifts": {"A": {"action": "key", "target": "a"},
      "B": {"action": "key", "target": "b", "window": ""}}})");
  EXPECT_EQ(std::make_tuple(windows.gifts.at("A").window, windows.gifts.at("A").windowOfFile,
                            windows.gifts.at("B").window, windows.gifts.at("B").windowOfFile, plain.windowOfFile),
            std::make_tuple("game.exe", true, "", false, false));
  for (const char* none : {"", R"(, "gifts": null)", R"(, "gifts": {})", R"(, "gifts": [])"}) {
    EXPECT_TRUE(mustLoad(std::string(R"({"token": "t")") + none + "}").gifts.empty()) << none;
  }
  // The events' rules, read as gifts are, with the file's window; without "gifts" too.
  const auto events = mustLoad(R"({"token": "t", "window": "game.exe", "events": {
      "follow": {"action": "key", "target": "f"}, "join": {"action": "sound", "sound": "a.mp3"},
      "likes": {"action": "key", "target": "l", "every": 100},
      "chat": {"!saut": {"action": "key", "target": "j", "viewerCooldown": 3000}, "!b": {"action": "key", "target": "b"}},
      "giftTiers": [{"minCoins": 500, "action": "key", "target": "u"}, {"minCoins": 10, "action": "key", "target": "t"}]}})")
                          .events;
  EXPECT_EQ(std::tie(events.follow->target, events.follow->window, events.join->sound),
            std::tuple("f", "game.exe", "a.mp3"));
  EXPECT_FALSE(events.share || events.subscribe);
  EXPECT_EQ(std::tie(events.likes->every, events.likes->action.target), std::tuple(100, "l"));
  EXPECT_EQ(std::tie(events.chat.at("!saut").viewerCooldown, events.chat.at("!b").viewerCooldown),
            std::tuple(3000ms, 0ms));
  EXPECT_EQ(std::tie(events.giftTiers.at(0).minCoins, events.giftTiers.at(1).minCoins), std::tuple(500, 10));
  // Alerts, goals and the overlays' key.
  const auto shown = mustLoad(R"({"token": "t", "overlayKey": "k", "gifts": {
      "A": {"action": "key", "target": "a", "alert": {"image": "images/Lion.GIF", "seconds": 30}},
      "B": {"action": "key", "target": "b", "alert": {"text": "{viewer}"}}},
      "goals": [{"name": "g", "counts": "gift:Rose", "target": 7, "reached": {"action": "key", "target": "r"}},
                {"name": "h", "counts": "follows", "target": 1}]})");
  const auto& alert = *shown.gifts.at("A").alert;
  EXPECT_EQ(std::tie(alert.text, alert.image, alert.seconds, shown.overlayKey),
            std::tuple("{viewer} : {gift} x{count}", "images/Lion.GIF", 30s, "k"));
  EXPECT_EQ(std::tie(shown.gifts.at("B").alert->text, shown.gifts.at("B").alert->seconds), std::tuple("{viewer}", 5s));
  EXPECT_FALSE(plain.alert);
  const auto& goal = shown.goals.at(0);
  EXPECT_EQ(std::tie(goal.counts, goal.gift, goal.target, goal.reached->target),
            std::tuple(config::GoalCounts::Gift, "Rose", 7, "r"));
  EXPECT_EQ(std::tie(shown.goals.at(1).counts, shown.goals.at(1).reached),
            std::tuple(config::GoalCounts::Follows, std::nullopt));
}

TEST(ConfigParse, RefusalsSayWhy) {
  // What a refusal names, so that the streamer can find it.
  const std::pair<std::string, std::string> named[] = {
      {"{\"token\": \"t\",}", "line 1, column 15"},
      {"\xFF\xFE{", "UTF-16"},
      {rose(R"(, "hold": 9)"), "\"hold\" du cadeau \"Rose\" doit etre un nombre entier de 10 a 5000"},
      {R"({"token": "t", "port": 65536})", "Le champ \"port\" doit etre un nombre entier de 1 a 65535"},
      {gifts(R"("S": {"action": "sound", "target": 1})"), "\"target\" du cadeau \"S\" doit etre un texte"},
      {gifts(R"("W": {"action": "webhook", "target": "https://h/{gift}?a=1"})"),
       "\"target\" du cadeau \"W\" met {gift} dans le chemin de l'adresse"},
      {R"({"token": "t", "events": {"follows": {}}})", "membre inconnu \"follows\""},
      {R"({"token": "t", "events": {"likes": {"action": "key", "target": "l"}}})",
       "La regle \"events.likes\" n'a pas de champ \"every\""},
      {R"({"token": "t", "events": {"chat": {"!a": {"action": "key", "target": "a", "viewerCooldown": -1}}}})",
       "\"viewerCooldown\" de la regle \"events.chat.!a\""},
      {R"({"token": "t", "events": {"giftTiers": [{"action": "key", "target": "a"}]}})",
       "La regle \"events.giftTiers[0]\" n'a pas de champ \"minCoins\""},
      {R"({"token": "t", "events": {"share": {"action": "key"}}})", "\"events.share\" n'a pas de champ \"target\""},
      {rose(R"(, "alert": {"image": "../secret.png"})"), "\"alert\" du cadeau \"Rose\" montre une image du dossier"},
      {rose(R"(, "alert": {"seconds": 31})"), "\"seconds\" qui doit etre un nombre entier de 1 a 30"},
      {R"({"token": "t", "goals": [{"name": "g", "counts": "gift:", "target": 5}]})",
       "\"counts\" de la regle \"goals[0]\" doit etre"},
      {R"({"token": "t", "goals": [{"name": "g", "counts": "likes"}]})", "n'a pas de champ \"target\""},
      {R"({"token": "t", "goals": [{"name": "g", "counts": "likes", "target": 1}, {"name": "g", "counts": "coins", "target": 1}]})",
       "Deux objectifs s'appellent \"g\""},
      {R"({"token": "t", "goals": [{"name": "g", "counts": "likes", "target": 1, "reached": {"action": "key"}}]})",
       "\"goals[0].reached\" n'a pas de champ \"target\""},
  };
  for (const auto& [text, expectedPart] : named) {
    // Printed escaped: a text or a cause may hold bytes that are not UTF-8.
    EXPECT_NE(config::parseConfig(text).reason().find(expectedPart), std::string::npos) << testing::PrintToString(text);
  }
  const std::string refused[] = {"",
                                 "{\"token\": \"\xFF\"}",
                                 "[1, 2]",
                                 "{}",
                                 "{\"token\": \"t\", \"secret\": 1234}",
                                 "{\"token\": \"t\", \"port\": \"5050\"}",
                                 "{\"token\": \"t\", \"gifts\": [1]}",
                                 gifts(R"("Rose": null)"),
                                 gifts(R"("Rose": {"target": "g"})"),
                                 gifts(R"("A": {"action": "key", "target": "a"}, "Rose": {"action": "key"})"),
                                 rose(R"(, "volume": "80")"),
                                 rose(R"(, "volume": 2147483648)"),
                                 rose(R"(, "volume": -1e10)"),
                                 rose(R"(, "repeat": 51)"),
                                 rose(R"(, "repeat": 18446744073709551615)"),
                                 rose(R"(, "cooldown": -1)"),
                                 rose(R"(, "window": 1)"),
                                 rose(R"(, "soundSeconds": 0)"),
                                 rose(R"(, "soundSeconds": 61)"),
                                 rose(R"(, "soundMode": "loud")"),
                                 R"({"token": "t", "window": null})"};
  for (const auto& text : refused) EXPECT_FALSE(config::parseConfig(text)) << testing::PrintToString(text);
  EXPECT_EQ(config::parseConfig("{\"token\": tru}").reason().find("..."), std::string::npos);  // short: whole
  // Of a long string, only the end is quoted, never cut inside a character (the euro sign straddles the cut).
  for (const char* opening : {"{\"", "{\"token\": \""}) {
    const auto why = config::parseConfig(opening + std::string(1'000'000, 'x') + "\xE2\x82\xAC" + std::string(58, 'x'));
    const auto& cause = why.reason();
    EXPECT_TRUE(cause.size() < 400 && cause.find("line 1, column") != std::string::npos &&
                cause.find("last read: '..." + std::string(58, 'x') + "'") != std::string::npos)
        << testing::PrintToString(cause);
  }
}

TEST(ConfigFiles, AFileIsReadOrSaidAbsentOrUnreadable_AndWrittenWholeOrNotAtAll) {
  const auto dir = testing_support::scratchDir("config");
  const auto path = [&dir](const char* name) { return (dir / name).string(); };
  EXPECT_TRUE(config::isAbsent(path("none.json")) && !config::isAbsent(dir.string()));
  EXPECT_EQ(config::readConfigFile(dir.string()).reason(), "c'est un dossier, pas un fichier");
  std::filesystem::create_symlink("loop.json", path("loop.json"));  // the system's own reason, whatever it is
  EXPECT_EQ(config::readConfigFile(path("loop.json")).reason(), std::generic_category().message(ELOOP));
  namespace fs = std::filesystem;
  const auto mode = [](const std::string& file) { return fs::status(file).permissions() & fs::perms::mask; };
  const auto text = [](const std::string& file) { return *config::readConfigFile(file); };
  using enum fs::perms;
  // A new file holds the token: its owner's alone. An old one keeps its own.
  EXPECT_TRUE(platform::replaceFile(path("c.json"), "hello\nworld"));
  EXPECT_EQ(std::make_tuple(text(path("c.json")), mode(path("c.json"))),
            std::make_tuple("hello\nworld", owner_read | owner_write));
  fs::permissions(path("c.json"), owner_read | owner_write | group_read);
  // A temporary name planted as a link receives nothing, nor becomes the file.
  std::ofstream(path("stolen")) << "";
  fs::create_symlink(path("stolen"), path("c.json.tmp"));
  EXPECT_TRUE(platform::replaceFile(path("c.json"), "again"));
  EXPECT_EQ(
      std::make_tuple(text(path("c.json")), text(path("stolen")), fs::is_symlink(path("c.json")), mode(path("c.json"))),
      std::make_tuple("again", "", false, owner_read | owner_write | group_read));
  // A linked file: its target gets the text, the link stays.
  fs::create_symlink("c.json", path("link.json"));
  EXPECT_TRUE(platform::replaceFile(path("link.json"), "through"));
  EXPECT_EQ(std::make_tuple(fs::is_symlink(path("link.json")), text(path("c.json"))), std::make_tuple(true, "through"));
  // Read-only, as its owner made it: refused, saying so, and left alone.
  fs::permissions(path("c.json"), owner_read);
  EXPECT_NE(platform::replaceFile(path("c.json"), "x").reason().find("lecture seule"), std::string::npos);
  EXPECT_EQ(text(path("c.json")), "through");
  fs::create_directories(path("e.json/inside"));
  EXPECT_FALSE(platform::replaceFile(path("e.json"), "x"));
  EXPECT_FALSE(platform::replaceFile(path("missing/f.json"), "x"));
  // A write the system stops half way, as a full disk does.
  rlimit usual{};
  getrlimit(RLIMIT_FSIZE, &usual);
  const rlimit small{4, usual.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_EQ(platform::replaceFile(path("g.json"), "longer than the limit").reason(), "File too large");
  setrlimit(RLIMIT_FSIZE, &usual);
  for (const char* left : {"c.json.tmp", "e.json.tmp", "missing", "g.json", "g.json.tmp"}) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(path(left)))) << left;
  }
  std::filesystem::remove_all(dir);
}

TEST(ConfigWarnings, AGiftThatCannotWorkIsToldAtLoad) {
  const auto dir = testing_support::scratchDir("warnings");
  const std::string there = (dir / "rose.mp3").string(), missing = (dir / "none.mp3").string();
  std::ofstream(there) << "ID3";
  const std::pair<config::GiftAction, std::string> gifts[] = {
      {{"key", "ctrl+g", there}, ""},
      {{"keys", "g", missing},
       R"(action inconnue "keys" (il faut "key", "webhook" ou "sound", en minuscules) ; )"
       "fichier audio non trouve : " +
           missing},
      {{"key", "ctlr+g", ""}, R"(touche inconnue "ctlr+g")"},
      {{"webhook", "ctlr+g", missing}, "fichier audio non trouve : " + missing},
      {{"sound", "", ""}, R"(aucun son a jouer (champ "sound"))"},
  };
  for (const auto& [gift, problems] : gifts) {
    const auto warning = actions::giftWarning("R\nose", gift);
    EXPECT_EQ(warning.value_or(""), problems.empty() ? "" : "Attention, cadeau \"R?ose\" : " + problems);
  }
  std::filesystem::remove_all(dir);
}

TEST(ConfigReload, AChangedFileAppliesAndOneThatDoesNotLoadLeavesTheGiftsAsTheyWere) {
  testing_support::ConsoleCapture console;
  const auto dir = testing_support::scratchDir("reload");
  const std::string file = (dir / "c.json").string(), first = rose("");
  const auto live = std::make_shared<config::LiveConfig>(*config::parseConfig(first));
  int changes = 0;
  const auto reload = std::make_shared<app::ConfigReload>(file, live, first, [&changes] { ++changes; });
  const auto write = [&file](const std::string& text) { std::ofstream(file, std::ios::binary) << text; };
  write(first);
  reload->apply();                      // as loaded: nothing to do
  const auto during = live->current();  // a gift under way keeps its settings
  write(rose("").substr(0, 30));        // half written, as an editor may leave it for a moment
  reload->apply();
  write(rose("").substr(0, 30));
  reload->apply();
  EXPECT_EQ(live->current(), during);
  EXPECT_NE(live->problem().find("n'est pas du JSON valide"), std::string::npos) << live->problem();
  write(gifts(R"("Lion": {"action": "key", "target": "ctlr+g"}, "Rose": {"action": "key", "target": "n"})"));
  reload->apply();
  EXPECT_EQ(std::make_tuple(live->current()->gifts.at("Rose").target, live->problem(), during->gifts.at("Rose").target),
            std::make_tuple("n", "", "g"));
  EXPECT_EQ(changes, 2);
  const auto lines = console.lines();
  ASSERT_EQ(lines.size(), 4u);  // a mistake is told once, however many times it is written
  EXPECT_EQ(lines[1], "Les cadeaux restent ceux d'avant, jusqu'a ce que le fichier se charge.");
  EXPECT_EQ(lines[2], "Configuration rechargee: 2 cadeaux configures");
  EXPECT_EQ(lines[3], "Attention, cadeau \"Lion\" : touche inconnue \"ctlr+g\"");
  const auto adding = [](const char* name, const char* hold) {
    return [=](std::string_view text) {
      return config::withGift(text, "", name, {{"action", "key"}, {"target", "t"}, {"hold", std::stoi(hold)}});
    };
  };
  std::thread other([&] { EXPECT_TRUE(reload->save(adding("Tigre", "50"))); });  // two saves at once both land
  EXPECT_TRUE(reload->save(adding("Ours", "50")));
  other.join();
  bool notepad = false;  // Notepad saves while the page's save is under way: neither change is lost
  EXPECT_TRUE(reload->save([&](std::string_view text) {
    if (!std::exchange(notepad, true)) write(*adding("Bloc-notes", "50")(text));
    return adding("Loup", "50")(text);
  }));
  EXPECT_EQ(reload->save(adding("Faux", "9")).reason(),
            "Le champ \"hold\" du cadeau \"Faux\" doit etre un nombre entier de 10 a 5000");
  const auto saved = *config::parseConfig(*config::readConfigFile(file));
  EXPECT_EQ(saved.gifts.size(), 6u);
  EXPECT_EQ(live->current()->gifts.size(), 6u);
  EXPECT_EQ(config::parseConfig(*config::readConfigFile(file + ".bak"))->gifts.size(), 5u);
  // A new port waits for the next start, and says so.
  write(R"({"token": "t", "port": 5050})");
  reload->apply();
  EXPECT_EQ(console.lines().back(),
            "Le port 5050 s'appliquera au prochain demarrage ; d'ici la, les cadeaux arrivent toujours sur le port "
            "5000.");
  std::filesystem::remove_all(dir);
}

TEST(ConfigEdit, AGiftChangesAndEverythingElseOfTheFileStaysInItsPlace) {
  const std::string file =
      "\xEF\xBB\xBF"
      R"({"token": "t", "zeta": [1], "gifts": {"B": {"target": "b", "action": "key",
      "note": "x", "sound": "s.mp3"}, "A": {"action": "key", "target": "a"}}, "secret": "s"})";
  const auto members = nlohmann::json::parse(R"({"target": "ctrl+g", "sound": "", "volume": null, "other": 1})");
  EXPECT_EQ(*config::withGift(file, "B", "B", members),
            "\xEF\xBB\xBF" +
                nlohmann::ordered_json::parse(R"({"token": "t", "zeta": [1], "gifts": {"B": {"target":
      "ctrl+g", "action": "key", "note": "x"}, "A": {"action": "key", "target": "a"}}, "secret": "s"})")
                    .dump(4) +
                "\n");
  const auto renamed = nlohmann::json::parse(*config::withGift(file.substr(3), "B", "C", members));
  EXPECT_EQ(std::make_tuple(renamed["gifts"].size(), renamed["gifts"]["C"]["note"], renamed["secret"]),
            std::make_tuple(2u, "x", "s"));
  EXPECT_EQ(config::withGift(file, "B", "A", members).reason(), "un cadeau s'appelle deja \"A\"");
  EXPECT_EQ(nlohmann::json::parse(*config::withGift(gifts(R"("": {})"), "", "N", members))["gifts"].size(), 2u);
  EXPECT_EQ(config::withoutGift(file, "Z").reason(), "aucun cadeau ne s'appelle \"Z\"");
  // Nested past what the program takes, wherever it is: neither loaded nor edited.
  const auto nested = [](std::size_t depth, const char* open, const char* close) {
    std::string inner = "0";
    for (std::size_t i = 1; i < depth; ++i) inner = open + inner + close;
    return R"({"token": "t", "gifts": {}, "note": )" + inner + "}";
  };
  for (const auto& [open, close] : {std::pair{"[", "]"}, std::pair{"{\"a\":", "}"}}) {
    EXPECT_TRUE(config::parseConfig(nested(64, open, close))) << open;
    EXPECT_NE(config::parseConfig(nested(65, open, close)).reason().find("plus de 64 niveaux"), std::string::npos);
    EXPECT_TRUE(config::withoutGift(nested(64, open, close), "A").reason().starts_with("aucun cadeau"));
    EXPECT_TRUE(config::withoutGift(nested(3000, open, close), "A").reason().starts_with("le fichier"));
  }
  for (const char* broken : {"{\"token\": ", "[1]", R"({"gifts": 5})"}) EXPECT_FALSE(config::withoutGift(broken, "A"));
}

TEST(ConfigEdit, AnEventsRuleChangesAndTheRestOfItStays) {
  const std::string file = R"({"token": "t", "events": {"likes": {"action": "key", "target": "l", "every": 100,
      "note": "x"}, "chat": {"!a": {"action": "key", "target": "a", "viewerCooldown": 5}},
      "giftTiers": [{"minCoins": 10, "action": "key", "target": "t"}]}})";
  const auto events = [](const Result<std::string>& edited) { return nlohmann::json::parse(*edited)["events"]; };
  const auto members = [](const char* text) { return nlohmann::json::parse(text); };
  EXPECT_EQ(events(config::withEvent(file, "likes", "", "", members(R"({"every": 50, "target": "m"})")))["likes"],
            members(R"({"action": "key", "target": "m", "every": 50, "note": "x"})"));
  const auto renamed = events(config::withEvent(file, "chat", "!a", "!b", members(R"({"target": "b"})")))["chat"];
  EXPECT_EQ(renamed, members(R"({"!b": {"action": "key", "target": "b", "viewerCooldown": 5}})"));
  const auto tiers = events(config::withEvent(file, "giftTiers", "", "", members(R"({"minCoins": 500})")))["giftTiers"];
  EXPECT_EQ(std::tuple(tiers.size(), tiers[1]["minCoins"]), std::tuple(2u, 500));
  EXPECT_EQ(
      events(config::withEvent(file, "giftTiers", "0", "", members(R"({"minCoins": 20})")))["giftTiers"][0]["target"],
      "t");
  EXPECT_EQ(events(config::withEvent(file, "follow", "", "", members(R"({"action": "key", "target": "f"})")))["follow"],
            members(R"({"action": "key", "target": "f"})"));
  for (const char* gone : {"1", "0x", "-1"}) {
    EXPECT_EQ(config::withEvent(file, "giftTiers", gone, "", members("{}")).reason(),
              "ce palier n'est plus dans le fichier");
    EXPECT_FALSE(config::withoutEvent(file, "giftTiers", gone));
  }
  EXPECT_FALSE(config::withEvent(file, "chat", "", " ", members("{}")));
  EXPECT_FALSE(config::withEvent(file, "follows", "", "", members("{}")));
  EXPECT_TRUE(events(config::withoutEvent(file, "giftTiers", "0"))["giftTiers"].empty());
  EXPECT_FALSE(events(config::withoutEvent(file, "chat", "!a"))["chat"].contains("!a"));
  EXPECT_FALSE(config::withoutEvent(file, "share", ""));
}

}  // namespace
