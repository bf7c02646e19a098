#include <gtest/gtest.h>

#include "actions/outgoing_webhook.hpp"

namespace {

using actions::SplitUrl;
using actions::UrlProblem;

TEST(SplitUrl, HostPartAndRequestTarget) {
  struct Case {
    const char* url;
    const char* host;
    const char* target;
  };
  const Case cases[] = {
      {"https://server/hook?a=1&b=2", "server", "/hook?a=1&b=2"},
      {"http://server/hook", "server", "/hook"},
      {"ftp://server/x", "server", "/x"},
      {"://server/x", "server", "/x"},
      {"https://server:8443/x", "server:8443", "/x"},
      {"https://server/", "server", "/"},
      {"https://server/r?u=http://other/", "server", "/r?u=http://other/"},
      {"https://[::1]:8443/x", "[::1]:8443", "/x"},
      {"https:///x", "", "/x"},
  };
  for (const auto& c : cases) {
    const auto split = actions::splitUrl(c.url);
    ASSERT_TRUE(std::holds_alternative<SplitUrl>(split)) << c.url;
    EXPECT_EQ(std::get<SplitUrl>(split).hostPart, c.host) << c.url;
    EXPECT_EQ(std::get<SplitUrl>(split).requestTarget, c.target) << c.url;
  }
}

TEST(SplitUrl, Problems) {
  EXPECT_EQ(std::get<UrlProblem>(actions::splitUrl("server/x")), UrlProblem::NoScheme);
  EXPECT_EQ(std::get<UrlProblem>(actions::splitUrl("")), UrlProblem::NoScheme);
  EXPECT_EQ(std::get<UrlProblem>(actions::splitUrl("https://server")), UrlProblem::NoPath);
  EXPECT_EQ(std::get<UrlProblem>(actions::splitUrl("https://server?a=1")), UrlProblem::NoPath);
  EXPECT_EQ(std::get<UrlProblem>(actions::splitUrl("https://")), UrlProblem::NoPath);
}

TEST(RedirectTarget, StaysOnTls) {
  const SplitUrl from{"server:8443", "/a/b?token=t"};
  struct Case {
    const char* location;
    const char* host;  // nullptr: refused
    const char* target;
  };
  const Case cases[] = {
      {"https://other/x?y=1", "other", "/x?y=1"},
      {"HTTPS://other:9443", "other:9443", "/"},
      {"https://other?q", "other", "/?q"},
      {"//other/x", "other", "/x"},
      {"/c", "server:8443", "/c"},
      {"c?d=1#frag", "server:8443", "/a/c?d=1"},
      {"http://other/x", nullptr, nullptr},
      {"HTTP://other/x", nullptr, nullptr},
      {"ftp://other/x", nullptr, nullptr},
      {"javascript:alert(1)", nullptr, nullptr},
      {"", nullptr, nullptr},
      {"#only", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    const auto to = actions::redirectTarget(from, c.location);
    if (c.host == nullptr) {
      EXPECT_FALSE(to) << c.location;
      continue;
    }
    ASSERT_TRUE(to) << c.location;
    EXPECT_EQ(to->hostPart, c.host) << c.location;
    EXPECT_EQ(to->requestTarget, c.target) << c.location;
  }
}

}  // namespace
