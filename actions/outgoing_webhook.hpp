#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "actions/step.hpp"
#include "common/result.hpp"

namespace httplib {
class Client;
}

namespace actions {

// An address cut for the client: everything before the first "://" is the
// scheme (ignored: the call always goes over TLS), then the host part up to
// the next '/', then the request target from that '/' on.
struct SplitUrl {
  std::string hostPart;
  std::string requestTarget;
};
enum class UrlProblem { NoScheme, NoPath };
Result<SplitUrl, UrlProblem> splitUrl(std::string_view url);

// Where a redirect from `from` leads: an absolute https address, one that
// starts with "//" (same scheme), an absolute path on the same host, or a
// path relative to the current one. Nothing for an address in any other
// scheme: a call never leaves in clear, not even after a redirect.
std::optional<SplitUrl> redirectTarget(const SplitUrl& from, std::string_view location);

// A client for "https://" + the host part, or nothing when the library cannot
// use the host part or would not speak TLS to it: a call never leaves in
// clear. May throw a standard exception for a host part it cannot read.
std::unique_ptr<httplib::Client> tlsClientFor(const std::string& hostPart);

// A remote body larger than this counts as a failed call.
inline constexpr std::size_t maxRemoteBodyBytes = 1024 * 1024;
// Redirects followed for one call; one more is a failed call.
inline constexpr int maxRedirects = 5;
// The whole of one call, redirects included, ends by then: a remote that
// trickles its answer cannot hold a gift for longer.
inline constexpr std::chrono::seconds callTimeLimit{15};

// The address with what a gift fills in, wherever it stands: "{count}" the
// number of gifts, "{viewer}" the viewer, "{gift}" the gift's name, the last
// two percent-encoded.
std::string filledUrl(const std::string& url, int count, const std::string& viewer, const std::string& gift);

// The address with the account token, wherever it appears as written or
// percent-encoded, as "***": what the page shows and edits.
std::string maskedUrl(const std::string& url, const std::string& token);
// The address the page sends back, with each query value "***" the token
// again: an edited address keeps its token.
std::string unmaskedUrl(const std::string& url, const std::string& token);
// The address as the console shows it: masked, so that a window shown on
// stream never shows the token, and cut as console lines are.
std::string printedUrl(const std::string& url, const std::string& token);

// One HTTPS GET of the address: 5 s to connect, 5 s for each read wait, at
// most `timeLimit` in all; redirects to https addresses followed, each hop
// with the same limits. Success is status 200 alone, and gives the remote
// body. Never throws a standard exception; what became of the call is told
// (`token` never shown), and a failure's reason says what went wrong in a few
// words for the reply.
Result<std::string> executeWebhook(const std::string& url, const std::string& token, const Tell& tell,
                                   std::chrono::milliseconds timeLimit = callTimeLimit);

}  // namespace actions
