#include <gtest/gtest.h>

#include "actions/outgoing_webhook.hpp"

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

}  // namespace

namespace {

TEST(Url, AGiftFillsInItsCountViewerAndName) {
  EXPECT_EQ(actions::filledUrl("https://s/w?n={count}&v={viewer}&g={gift}&again={count}{", 12, "al & bo", "Rosé/1"),
            "https://s/w?n=12&v=al%20%26%20bo&g=Ros%C3%A9%2F1&again=12{");
  EXPECT_EQ(actions::filledUrl("https://s/{count}", 1, "", ""), "https://s/1");
  EXPECT_EQ(actions::filledUrl("https://s/{viewer}{gift}{Count}", 3, "", ""), "https://s/{Count}");
}

}  // namespace
