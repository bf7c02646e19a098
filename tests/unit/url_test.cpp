#include <gtest/gtest.h>

#include "actions/outgoing_webhook.hpp"
#include "config/config_edit.hpp"
#include "config/gift_action.hpp"

namespace {

using Parts = std::pair<std::string, std::string>;  // host part, request target; empty: refused

Parts parts(const std::optional<actions::SplitUrl>& url) {
  return url ? Parts{url->hostPart, url->requestTarget} : Parts{};
}

TEST(Url, SplitIntoHostPartAndRequestTarget) {
  const std::pair<const char*, Parts> cases[] = {
      {"https://server/hook?a=1&b=2", {"server", "/hook?a=1&b=2"}},
      {"https://server:8443/", {"server:8443", "/"}},
      {"https://server/r?u=http://other/", {"server", "/r?u=http://other/"}},
      {"https://[::1]:8443/x", {"[::1]:8443", "/x"}},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(parts(*actions::splitUrl(url)), expected) << url;
  for (const char* url : {"server/x", ""}) EXPECT_EQ(actions::splitUrl(url).failure(), actions::UrlProblem::NoScheme);
  for (const char* url : {"https://server", "https://server?a=1", "https://"}) {
    EXPECT_EQ(actions::splitUrl(url).failure(), actions::UrlProblem::NoPath) << url;
  }
}

TEST(Url, ARedirectStaysOnTls) {
  const actions::SplitUrl from{"server:8443", "/a/b?token=t"};
  const std::pair<const char*, Parts> cases[] = {{"https://other/x?y=1", {"other", "/x?y=1"}},
                                                 {"HTTPS://other:9443", {"other:9443", "/"}},
                                                 {"https://other?q", {"other", "/?q"}},
                                                 {"//other/x", {"other", "/x"}},
                                                 {"/c", {"server:8443", "/c"}},
                                                 {"/c:d", {"server:8443", "/c:d"}},
                                                 {"c?d=1#frag", {"server:8443", "/a/c?d=1"}},
                                                 // Refused: no other scheme, not even a plain "http".
                                                 {"http://other/x", {}},
                                                 {"HTTP://other/x", {}},
                                                 {"javascript:alert(1)", {}},
                                                 {"", {}}};
  for (const auto& [location, expected] : cases) EXPECT_EQ(parts(actions::redirectTarget(from, location)), expected);
}

TEST(Url, AGiftFillsInItsCountViewerAndName) {
  EXPECT_EQ(actions::filledUrl("https://s/w?n={count}&v={viewer}&g={gift}&again={count}{", 12, "al & bo", "Rosé/1"),
            "https://s/w?n=12&v=al%20%26%20bo&g=Ros%C3%A9%2F1&again=12{");
  EXPECT_EQ(actions::filledUrl("https://s/{count}", 1, "", ""), "https://s/1");
  EXPECT_EQ(actions::filledUrl("https://s/{viewer}{gift}{Count}", 3, "", ""), "https://s/{Count}");
}

TEST(Url, PlaceholdersStandInTheQueryAloneWhereAViewersNameCannotSteerTheCall) {
  const std::pair<const char*, const char*> cases[] = {{"https://{viewer}.example/x", "le nom du serveur"},
                                                       {"https://h/a/{gift}/b?c=1", "le chemin"},
                                                       {"https://h/a{count}?c=1", "le chemin"},
                                                       {"https://h/a?v={viewer}#{gift}", "la fin apres #"},
                                                       {"https://h?a/{viewer}", nullptr},
                                                       {"https://h/a?v={viewer}&g={gift}&n={count}", nullptr}};
  for (const auto& [url, where] : cases) {
    const auto misplaced = config::misplacedPlaceholder(url);
    EXPECT_STREQ(misplaced ? misplaced->where : nullptr, where) << url;
  }
}

TEST(Url, TheTokenIsReplacedAsAQueryValueAloneAndMaskedInBothForms) {
  // Where the old token is a parameter's value; not in the host, the path, a
  // name, a longer value or the fragment.
  EXPECT_EQ(config::withQueryValue("https://1234.s/1234=?t=1234&1234=5&u=01234&=1234&v=12345#x=1234", "1234", "N"),
            "https://1234.s/1234=?t=N&1234=5&u=01234&=N&v=12345#x=1234");
  const std::string token = "a b/c", url = "https://s/w?t=a b/c&u=a%20b%2Fc&v=1";
  EXPECT_EQ(actions::maskedUrl(url, token), "https://s/w?t=***&u=***&v=1");
  // A library's error text is masked too, and may begin with the token.
  EXPECT_EQ(actions::maskedUrl("a b/c: no host a b/c", token), "***: no host ***");
  EXPECT_EQ(actions::unmaskedUrl("https://s/x?t=***&w=2***", token), "https://s/x?t=a b/c&w=2***");
  EXPECT_EQ(actions::printedUrl("https://s/" + std::string(200, 'p') + "?t=a b/c", token).size(), 123u);
}

}  // namespace
