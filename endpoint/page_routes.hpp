#pragma once

// The control page's routes, one file for each part of the page, each
// registering its own; what they share.

#include <httplib.h>

#include <cstddef>
#include <memory>
#include <string>

#include "common/result.hpp"
#include "endpoint/control_page.hpp"
#include "endpoint/http_server.hpp"

namespace endpoint {

inline constexpr const char* textType = "text/plain; charset=utf-8";
// The sounds the page lists, at most.
inline constexpr std::size_t maxSoundFiles = 500;

// What every part's routes are given.
struct PageParts {
  HttpServer& server;
  std::shared_ptr<config::LiveConfig> config;
  std::shared_ptr<gifts::EventState> state;
  PageStatus status;
  std::string pageToken;
  SaveFile save;
};

// A save's reply: done, or why not (400), for the page to show beside the
// form.
void answerSave(httplib::Response& res, const Result<>& saved);
// A save whose request names one text member: the new token, the gift to
// remove.
httplib::Server::Handler savingMember(const SaveFile& save, const char* member,
                                      Result<std::string> (*edit)(std::string_view, const std::string&));
// Where the relay sends its gifts: this machine's address, then its
// networks'.
nlohmann::json relayAddresses(int port, const std::vector<std::string>& networkAddresses);

// The page's files, its state, the feed, the requests and the session.
void registerStateRoutes(const PageParts& parts);
// The gifts' and the events' rules: tested, saved, removed; the goals.
void registerRuleRoutes(const PageParts& parts);
// Sound files, their preview, the output devices.
void registerSoundRoutes(const PageParts& parts);
// The account token, the relay's secret.
void registerSettingsRoutes(const PageParts& parts);
// The overlays for OBS, their images and their push stream; their addresses.
void registerOverlayRoutes(const PageParts& parts);

}  // namespace endpoint
