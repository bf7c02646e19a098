#include "endpoint/page_access.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "endpoint/control_page.hpp"
#include "support.hpp"

namespace {

TEST(PageAccess, ThisMachineUnderItsOwnNameAndChangesFromThePageWithItsToken) {
  using enum endpoint::PageRefusal;
  const std::string token(32, 'a'), page = "http://localhost:5000";
  const std::pair<endpoint::PageRequest, endpoint::PageRefusal> cases[] = {
      {{"127.0.0.1", "localhost:5000"}, None},
      {{"127.8.9.1", "LocalHost:5000"}, None},
      {{"::1", "[::1]:5000"}, None},
      {{"::ffff:127.0.0.1", "127.0.0.1:5000"}, None},
      {{"10.0.0.2", "localhost:5000"}, NotThisMachine},
      {{"::ffff:10.0.0.2", "localhost:5000"}, NotThisMachine},
      {{"127.0.0.1", "localhost"}, WrongHost},
      {{"127.0.0.1", "my.localhost:5000"}, WrongHost},
      {{"127.0.0.1", ":5000"}, WrongHost},
      {{"127.0.0.1", "localhost:5000", std::nullopt, token, true}, None},
      {{"127.0.0.1", "localhost:5000", "null", token, true}, WrongOrigin},
      {{"127.0.0.1", "localhost:5000", "https://localhost:5000", token, true}, WrongOrigin},
      {{"127.0.0.1", "localhost:5000", page, std::nullopt, true}, NoToken},
      {{"127.0.0.1", "localhost:5000", page, std::string(31, 'a') + "b", true}, NoToken},
  };
  for (const auto& [request, refusal] : cases) {
    EXPECT_EQ(endpoint::pageRefusal(request, 5000, token), refusal) << request.peer << ' ' << request.host;
  }
  EXPECT_EQ(endpoint::pageRefusal({"127.0.0.1", "localhost"}, 80, token), None);  // port 80: none in Host
}

TEST(PageAccess, AnOverlayAnswersThisMachineAndTheNetworkWithTheKeyAtAnAddressByNumber) {
  using enum endpoint::PageRefusal;
  const std::string key = "k3y";
  const auto of = [](std::string peer, std::string host, std::optional<std::string> origin,
                     std::optional<std::string> given) {
    return endpoint::PageRequest{std::move(peer), std::move(host), std::move(origin),
                                 std::nullopt,    false,           std::move(given)};
  };
  const std::pair<endpoint::PageRequest, endpoint::PageRefusal> cases[] = {
      {of("127.0.0.1", "localhost:5000", "http://localhost:5000", std::nullopt), None},
      {of("127.0.0.1", "localhost:5000", "http://evil.example", std::nullopt), WrongOrigin},
      {of("127.0.0.1", "evil.example:5000", std::nullopt, std::nullopt), WrongHost},
      {of("192.168.1.9", "192.168.1.2:5000", std::nullopt, std::nullopt), NoOverlayKey},
      {of("192.168.1.9", "192.168.1.2:5000", std::nullopt, "k3Y"), NoOverlayKey},
      {of("192.168.1.9", "192.168.1.2:5000", "http://192.168.1.2:5000", key), None},
      {of("fe80::9", "[fe80::2]:5000", std::nullopt, key), None},
      {of("192.168.1.9", "evil.example:5000", std::nullopt, key), WrongHost},
      {of("192.168.1.9", "192.168.1.2:5001", std::nullopt, key), WrongHost},
      {of("192.168.1.9", "1.2.3:5000", std::nullopt, key), WrongHost},
      {of("192.168.1.9", "192.168.1.2:5000", "http://evil.example", key), WrongOrigin},
  };
  for (const auto& [request, refusal] : cases) {
    EXPECT_EQ(endpoint::overlayRefusal(request, 5000, key), refusal) << request.peer << ' ' << request.host;
  }
  // A file without a key: nothing from the network.
  EXPECT_EQ(endpoint::overlayRefusal(of("192.168.1.9", "192.168.1.2:5000", std::nullopt, ""), 5000, ""), NoOverlayKey);
}

TEST(PageAccess, TheTokenIsThirtyTwoHexDigitsEachOfAllSixteen) {
  std::set<char> digits[2];
  for (int i = 0; i < 64; ++i) {
    const std::string token = endpoint::newPageToken();
    ASSERT_EQ(token.size(), 32u);
    for (std::size_t at = 0; at < token.size(); ++at) digits[at % 2].insert(token[at]);
  }
  const std::set<char> hex{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  EXPECT_EQ(digits[0], hex);  // a byte's high half, as random as its low half
  EXPECT_EQ(digits[1], hex);
}

TEST(PageAccess, ARefusedAddressIsSaidOnceAMinuteWithHowManyWentUnsaid) {
  using namespace std::chrono_literals;
  endpoint::RefusedAddresses refused;
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  const std::tuple<const char*, std::chrono::seconds, std::optional<std::size_t>> steps[] = {
      {"10.0.0.2", 0s, 0},  {"10.0.0.2", 1s, {}},  {"10.0.0.3", 2s, 0},   {"10.0.0.2", 59s, {}},
      {"10.0.0.2", 60s, 2}, {"10.0.0.2", 200s, 0}, {"10.0.0.2", 201s, {}}};
  for (const auto& [address, at, said] : steps)
    EXPECT_EQ(refused.toSay(address, t0 + at), said) << address << ' ' << at;
  // Bounded: a new address is said once those quiet for a minute make room.
  for (std::size_t i = 0; i < refused.kept; ++i) refused.toSay("10.1." + std::to_string(i), t0 + 201s);
  EXPECT_EQ(refused.toSay("10.2.0.1", t0 + 202s), std::nullopt);
  EXPECT_EQ(refused.toSay("10.2.0.1", t0 + 262s), 0u);
  endpoint::RefusedAddresses full;
  for (int i = 0; i < 1000; ++i) full.toSay("10.3." + std::to_string(i), t0);
  EXPECT_EQ(full.toSay("10.4.0.1", t0), std::nullopt);  // a thousand remembered, no more
}

TEST(PageSounds, TheSoundsOfTheProgramsFolderFourFoldersDeepAtMost) {
  const auto dir = testing_support::scratchDir("page-sounds");
  for (const char* file : {"a.MP3", "b.wav", "c.ogg", "d.txt", "1/2/3/4/e.mp3", "1/2/3/4/5/f.mp3"}) {
    std::filesystem::create_directories((dir / file).parent_path());
    std::ofstream(dir / file) << "x";
  }
  using Names = std::vector<std::string>;
  EXPECT_EQ(endpoint::soundFiles(dir.string(), 10), (Names{"1/2/3/4/e.mp3", "a.MP3", "b.wav", "c.ogg"}));
  EXPECT_EQ(endpoint::soundFiles(dir.string(), 2).size(), 2u);
  std::filesystem::remove_all(dir);
}

}  // namespace
