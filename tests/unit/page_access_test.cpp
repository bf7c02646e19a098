#include "endpoint/page_access.hpp"

#include <gtest/gtest.h>

#include "endpoint/control_page.hpp"

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
      {{"127.0.0.1", "localhost:5000", std::nullopt, token, true}, None},
      {{"127.0.0.1", "localhost:5000", "null", token, true}, WrongOrigin},
      {{"127.0.0.1", "localhost:5000", "https://localhost:5000", token, true}, WrongOrigin},
      {{"127.0.0.1", "localhost:5000", page, std::nullopt, true}, NoToken},
      {{"127.0.0.1", "localhost:5000", page, std::string(31, 'a') + "b", true}, NoToken},
  };
  for (const auto& [request, refusal] : cases) {
    EXPECT_EQ(endpoint::pageRefusal(request, 5000, token), refusal) << request.peer << ' ' << request.host;
  }
  // On port 80 the browser leaves the port out.
  EXPECT_EQ(endpoint::pageRefusal({"127.0.0.1", "localhost"}, 80, token), None);
}

TEST(PageAccess, TheTokenIsSixteenRandomBytesInHex) {
  std::string tokens;
  for (int i = 0; i < 4; ++i) tokens += endpoint::newPageToken();
  EXPECT_EQ(tokens.find_first_not_of("0123456789abcdef"), std::string::npos);
  bool highNibbles = false;  // each byte's first digit takes all sixteen values too: 2^-64 to miss it by chance
  for (std::size_t i = 0; i < tokens.size(); i += 2) highNibbles |= tokens[i] >= '8';
  EXPECT_TRUE(tokens.size() == 128 && highNibbles && tokens.substr(0, 32) != tokens.substr(32, 32));
}

}  // namespace
