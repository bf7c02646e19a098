#include "actions/outgoing_webhook.hpp"

#include <httplib.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>

#include "common/console.hpp"
#include "config/config_edit.hpp"

namespace actions {

Result<SplitUrl, UrlProblem> splitUrl(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return UrlProblem::NoScheme;
  const std::string_view rest = url.substr(scheme + 3);
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos) return UrlProblem::NoPath;
  return SplitUrl{std::string(rest.substr(0, slash)), std::string(rest.substr(slash))};
}

namespace {

using Clock = std::chrono::steady_clock;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// A scheme is letters, digits, '+', '-' and '.' before a ':'.
bool hasScheme(std::string_view location) {
  const auto colon = location.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  for (const char c : location.substr(0, colon)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// "host/path?query" (after the "//"): the host part up to the first '/', '?'
// or '#'; the request target from there, "/" when there is no path.
SplitUrl hostAndTarget(std::string_view rest) {
  const auto end = rest.find_first_of("/?");
  if (end == std::string_view::npos) return SplitUrl{std::string(rest), "/"};
  std::string target(rest.substr(end));
  if (target.front() == '?') target.insert(0, "/");
  return SplitUrl{std::string(rest.substr(0, end)), std::move(target)};
}

}  // namespace

std::optional<SplitUrl> redirectTarget(const SplitUrl& from, std::string_view location) {
  // The fragment is the client's own business; it is never sent.
  location = location.substr(0, location.find('#'));
  if (location.empty()) return std::nullopt;
  if (hasScheme(location)) {
    if (!startsWithNoCase(location, "https://")) return std::nullopt;
    return hostAndTarget(location.substr(8));
  }
  if (location.starts_with("//")) return hostAndTarget(location.substr(2));
  if (location.front() == '/') return SplitUrl{from.hostPart, std::string(location)};
  // Relative to the folder of the current path.
  const std::string_view path = std::string_view(from.requestTarget).substr(0, from.requestTarget.find('?'));
  return SplitUrl{from.hostPart, std::string(path.substr(0, path.rfind('/') + 1)) + std::string(location)};
}

namespace {

// The status of a call that failed, or 0 when there was no response; `why`,
// when given, tells the streamer what the status alone does not.
Failure callFailed(const Tell& tell, int status, std::string failure, const std::string& why = {}) {
  tell({StepKind::CallFailed, {}, why, status});
  return Failure{std::move(failure)};
}

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Redirects are followed here rather than by the library, whose client for
// the next address keeps neither the body limit nor the quiet TLS shutdown,
// and which follows a redirect to plain HTTP.
Result<std::string> call(const std::string& printed, SplitUrl hop, std::chrono::milliseconds timeLimit,
                         const Tell& tell) {
  const Clock::time_point deadline = Clock::now() + timeLimit;
  for (int redirects = 0;; ++redirects) {
    const auto client = tlsClientFor(hop.hostPart);
    if (!client) return callFailed(tell, 0, "invalid address");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return callFailed(tell, 0, "time limit reached", "delai depasse");
    client->set_follow_location(false);
    client->set_connection_timeout(std::min<std::chrono::milliseconds>(left, std::chrono::seconds(5)));
    client->set_read_timeout(5, 0);
    client->set_max_timeout(left);
    client->set_payload_max_length(maxRemoteBodyBytes);

    const httplib::Result result = client->Get(hop.requestTarget);
    if (!result) return callFailed(tell, 0, "no response (" + httplib::to_string(result.error()) + ")");
    const int status = result->status;
    if (isRedirect(status) && result->has_header("Location")) {
      if (redirects == maxRedirects) return callFailed(tell, status, "too many redirects", "trop de redirections");
      auto next = redirectTarget(hop, result->get_header_value("Location"));
      if (!next) {
        return callFailed(tell, status, "redirect to an address without TLS refused",
                          "redirection vers une adresse non chiffree refusee");
      }
      hop = std::move(*next);
      continue;
    }
    if (status == 200) {
      tell({StepKind::CallSucceeded, printed});
      return result->body;
    }
    return callFailed(tell, status, "HTTP status " + std::to_string(status));
  }
}

}  // namespace

std::unique_ptr<httplib::Client> tlsClientFor(const std::string& hostPart) {
  auto client = std::make_unique<httplib::Client>("https://" + hostPart);
  // The library answers an address it cannot use (a port that is no number)
  // with a client that is not valid; an address it does not take for an
  // https one gets a plain client.
  auto* tls = static_cast<SSL_CTX*>(client->tls_context());
  if (!client->is_valid() || tls == nullptr) return nullptr;
  // No wait for the server's close_notify once the call is over: a server
  // that never answers would otherwise hold the call one more read time-out.
  SSL_CTX_set_quiet_shutdown(tls, 1);
  return client;
}

std::string filledUrl(const std::string& url, int count, const std::string& viewer, const std::string& gift) {
  const std::pair<std::string_view, std::string> marks[] = {{"{count}", std::to_string(count)},
                                                            {"{viewer}", httplib::encode_uri_component(viewer)},
                                                            {"{gift}", httplib::encode_uri_component(gift)}};
  std::string filled;
  for (std::size_t i = 0; i < url.size();) {
    const auto mark =
        std::ranges::find_if(marks, [&](const auto& m) { return url.compare(i, m.first.size(), m.first) == 0; });
    if (mark == std::end(marks)) {
      filled += url[i++];
    } else {
      filled += mark->second;
      i += mark->first.size();
    }
  }
  return filled;
}

std::string maskedUrl(const std::string& url, const std::string& token) {
  std::string masked = url;
  const std::string encoded = httplib::encode_uri_component(token);
  for (const std::string& form : {token, encoded}) {
    for (auto at = form.empty() ? std::string::npos : masked.find(form); at != std::string::npos;
         at = masked.find(form, at + 3)) {
      masked.replace(at, form.size(), "***");
    }
  }
  return masked;
}

std::string unmaskedUrl(const std::string& url, const std::string& token) {
  return token.empty() ? url : config::withQueryValue(url, "***", token);
}

std::string printedUrl(const std::string& url, const std::string& token) {
  return console::shown(maskedUrl(url, token));
}

Result<std::string> executeWebhook(const std::string& url, const std::string& token, const Tell& tell,
                                   std::chrono::milliseconds timeLimit) {
  const std::string printed = printedUrl(url, token);
  const auto split = splitUrl(url);
  if (!split && split.failure() == UrlProblem::NoScheme) {
    tell({StepKind::UrlWithoutScheme, printed});
    return Failure{"invalid URL (no scheme)"};
  }
  if (!split) {
    tell({StepKind::UrlWithoutPath, printed});
    return Failure{"invalid URL (no path)"};
  }
  try {
    return call(printed, *split, timeLimit, tell);
  } catch (const std::exception& e) {
    tell({StepKind::CallException, printedUrl(e.what(), token)});
    return Failure{std::string("exception: ") + e.what()};
  }
}

}  // namespace actions
