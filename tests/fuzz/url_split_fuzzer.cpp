// The outgoing call's address: how it is cut, the TLS client made from its
// host part (no request is sent), and where the same text leads when a
// server gives it as a redirect.
#include <httplib.h>

#include <cctype>
#include <string>
#include <string_view>

#include "actions/outgoing_webhook.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  const auto split = actions::splitUrl(url);
  const auto scheme = url.find("://");
  if (const auto* problem = std::get_if<actions::UrlProblem>(&split)) {
    if (*problem == actions::UrlProblem::NoScheme) {
      FUZZ_CHECK(scheme == std::string::npos);
    } else {
      FUZZ_CHECK(scheme != std::string::npos && url.find('/', scheme + 3) == std::string::npos);
    }
    return 0;
  }
  const auto& parts = std::get<actions::SplitUrl>(split);
  FUZZ_CHECK(scheme != std::string::npos);
  FUZZ_CHECK(url.substr(scheme + 3) == parts.hostPart + parts.requestTarget);
  FUZZ_CHECK(parts.hostPart.find('/') == std::string::npos);
  FUZZ_CHECK(!parts.requestTarget.empty() && parts.requestTarget.front() == '/');

  // As a redirect's Location: never out of TLS, always a path for the client.
  if (const auto next = actions::redirectTarget(parts, url)) {
    FUZZ_CHECK(!next->requestTarget.empty() && next->requestTarget.front() == '/');
    FUZZ_CHECK(next->hostPart.find('/') == std::string::npos);
    std::string lower = url.substr(0, 5);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_CHECK(lower != "http:");
  }

  try {
    const auto client = actions::tlsClientFor(parts.hostPart);
    if (client) FUZZ_CHECK(client->is_valid() && client->tls_context() != nullptr);
  } catch (const std::exception&) {
    // The call reports it as "Exception lors de la requete HTTP: ".
  }
  return 0;
}
