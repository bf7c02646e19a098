#include <httplib.h>

#include <nlohmann/json.hpp>

#include "common/json_io.hpp"
#include "config/config_edit.hpp"
#include "endpoint/gift_handler.hpp"
#include "endpoint/page_routes.hpp"
#include "platform/platform.hpp"

namespace endpoint {

using nlohmann::json;

void registerSettingsRoutes(const PageParts& parts) {
  HttpServer& server = parts.server;
  const auto& config = parts.config;
  const auto& save = parts.save;
  const PageStatus& status = parts.status;
  server.Post("/api/token", savingMember(save, "token", config::withToken));
  // The secret, and where the relay puts it: in the address, or in a header
  // for relays that can set one. A new one is written into the file first.
  const auto secretReply = [config, status](httplib::Response& res) {
    const std::string secret = config->current()->secret;
    json relay = json::array();
    for (const json& address : relayAddresses(status.port, platform::networkAddresses())) {
      relay.push_back(address.get<std::string>() + "?secret=" + httplib::encode_uri_component(secret));
    }
    const json reply{{"secret", secret}, {"header", secretHeader}, {"relay", relay}};
    res.set_content(common::jsonText(reply), jsonReplyType);
  };
  server.Get("/api/secret", [secretReply](const httplib::Request&, httplib::Response& res) { secretReply(res); });
  server.Post("/api/secret", [save, secretReply](const httplib::Request&, httplib::Response& res) {
    const std::string secret = newPageToken();
    if (const auto saved = save([&](std::string_view text) { return config::withSecret(text, secret); }); !saved) {
      return answerSave(res, saved);
    }
    secretReply(res);
  });
}

}  // namespace endpoint
