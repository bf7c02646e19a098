#include "actions/outgoing_webhook.hpp"

#include <httplib.h>
#include <openssl/ssl.h>

#include "common/console.hpp"

namespace actions {

std::variant<SplitUrl, UrlProblem> splitUrl(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return UrlProblem::NoScheme;
  const std::string_view rest = url.substr(scheme + 3);
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos) return UrlProblem::NoPath;
  return SplitUrl{std::string(rest.substr(0, slash)), std::string(rest.substr(slash))};
}

namespace {

WebhookOutcome failed(std::string failure) { return WebhookOutcome{false, {}, std::move(failure)}; }

// The status of a call that failed, or 0 when there was no response.
WebhookOutcome callFailed(int status, std::string failure) {
  console::printLine("Erreur requete HTTP: " + std::to_string(status));
  return failed(std::move(failure));
}

WebhookOutcome call(const std::string& url, const SplitUrl& parts) {
  const auto client = tlsClientFor(parts.hostPart);
  if (!client) return callFailed(0, "invalid address");
  client->set_follow_location(true);
  client->set_connection_timeout(5, 0);
  client->set_read_timeout(5, 0);
  client->set_payload_max_length(maxRemoteBodyBytes);

  const httplib::Result result = client->Get(parts.requestTarget);
  if (result && result->status == 200) {
    console::printLine("Requete HTTP reussie: " + url);
    return WebhookOutcome{true, result->body, {}};
  }
  if (result) return callFailed(result->status, "HTTP status " + std::to_string(result->status));
  return callFailed(0, "no response (" + httplib::to_string(result.error()) + ")");
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

WebhookOutcome executeWebhook(const std::string& url) {
  const auto split = splitUrl(url);
  if (const auto* problem = std::get_if<UrlProblem>(&split)) {
    if (*problem == UrlProblem::NoScheme) {
      console::printLine("URL invalide (pas de protocole): " + url);
      return failed("invalid URL (no scheme)");
    }
    console::printLine("URL invalide (pas de chemin): " + url);
    return failed("invalid URL (no path)");
  }
  try {
    return call(url, std::get<SplitUrl>(split));
  } catch (const std::exception& e) {
    console::printLine(std::string("Exception lors de la requete HTTP: ") + e.what());
    return failed(std::string("exception: ") + e.what());
  }
}

}  // namespace actions
