#include "endpoint/gift_handler.hpp"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <nlohmann/json.hpp>

#include "endpoint/http_server.hpp"
#include "gifts/handle_event.hpp"

namespace endpoint {

gifts::RelayRequest relayRequestOf(const httplib::Request& req) {
  gifts::RelayRequest request{req.method, req.get_header_value("Content-Type"), req.body, {}};
  request.fields.insert(req.params.begin(), req.params.end());
  if (req.has_header(secretHeader)) request.secretHeader = req.get_header_value(secretHeader);
  return request;
}

bool carriesSecret(const gifts::RelayRequest& request, const std::string& secret) {
  if (secret.empty()) return true;
  // Digests of equal length, compared in constant time: how long the
  // comparison takes tells nothing of the secret, its length included.
  unsigned char expected[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(secret.data()), secret.size(), expected);
  bool found = false;
  for (const std::string& text : gifts::offeredSecrets(request)) {
    unsigned char given[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), given);
    found |= CRYPTO_memcmp(given, expected, sizeof(expected)) == 0;
  }
  return found;
}

void serveGift(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const config::LoadedConfig> config,
               const std::shared_ptr<gifts::EventState>& state) {
  const gifts::RelayRequest request = relayRequestOf(req);
  const gifts::Reply outcome = carriesSecret(request, config->secret)
                                   ? gifts::handleEvent(request, std::move(config), state, gifts::Source::Relay)
                                   : gifts::refuseEvent(request, *config, *state);
  res.status = gifts::replyStatus(outcome);
  res.set_content(gifts::replyBody(outcome), jsonReplyType);
}

void registerRoutes(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                    std::shared_ptr<gifts::EventState> state) {
  server.set_payload_max_length(maxRequestBodyBytes);
  const auto gift = [config, state](const httplib::Request& req, httplib::Response& res) {
    // The library answers HEAD with the GET route: a link checker or a
    // browser's prefetch must not send a gift.
    if (req.method == "HEAD") {
      res.status = 405;
      res.set_header("Allow", "POST, GET, OPTIONS");
      return;
    }
    serveGift(req, res, config->current(), state);
  };
  server.Post("/webhook", gift);
  server.Get("/webhook", gift);
  server.Options("/webhook", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Access-Control-Allow-Methods", "POST, GET, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", std::string("Content-Type, ") + secretHeader);
    res.status = 200;
  });
  // A relay running in a web page reads its reply only when the reply allows
  // the page's origin, refusals (413, 403) included; the preflight alone
  // does not do.
  server.set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path != "/webhook") return;
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("X-Content-Type-Options", "nosniff");
  });
}

}  // namespace endpoint
