#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/json_io.hpp"
#include "config/config_edit.hpp"
#include "endpoint/page_files.hpp"
#include "endpoint/page_routes.hpp"
#include "gifts/overlay_feed.hpp"
#include "platform/platform.hpp"

namespace endpoint {
namespace {

using nlohmann::json;

// An image the alerts show may be this large at most: OBS loads it at once.
constexpr std::uintmax_t maxImageBytes = std::uintmax_t{20} << 20;
// A stream with nothing to send says so this often: a closed overlay is
// found out, and its worker freed, on the first that fails.
constexpr std::chrono::seconds streamBeat{2};

constexpr const char* overlayNames[] = {"alerts", "goal", "last"};

const char* imageType(const std::string& name) {
  std::string lower;
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.ends_with(".png")) return "image/png";
  if (lower.ends_with(".gif")) return "image/gif";
  if (lower.ends_with(".webp")) return "image/webp";
  return nullptr;
}

// The images of the "images" folder beside the file, by name: a name asked
// for is looked up among them, never opened as given.
std::optional<std::filesystem::path> imageFile(const std::string& wanted) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator entry(fs::u8path("images"), error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    const std::u8string name = entry->path().filename().u8string();
    if (std::string(name.begin(), name.end()) == wanted && entry->is_regular_file(error)) return entry->path();
  }
  return std::nullopt;
}

// The overlays' addresses: on this machine, and from the network with the
// key when the file has one.
json overlayAddresses(int port, const std::string& key) {
  const std::string portText = std::to_string(port);
  json local = json::object(), network = json::array();
  for (const char* name : overlayNames) local[name] = "http://localhost:" + portText + "/overlay/" + name;
  if (!key.empty()) {
    for (const auto& address : platform::networkAddresses()) {
      json each = json::object();
      for (const char* name : overlayNames) {
        each[name] = "http://" + address + ":" + portText + "/overlay/" + name + "?key=" + key;
      }
      network.push_back(std::move(each));
    }
  }
  return {{"local", local}, {"network", network}, {"key", !key.empty()}};
}

}  // namespace

void registerOverlayRoutes(const PageParts& parts) {
  HttpServer& server = parts.server;
  const auto& config = parts.config;
  const auto& state = parts.state;
  for (const PageFile& file : pageFiles()) {
    if (!file.path.starts_with("/overlay/")) continue;
    std::string route(file.path);
    const char* type = "text/html; charset=utf-8";
    if (route.ends_with(".html")) {
      route.resize(route.size() - 5);
    } else {
      type = route.ends_with(".js") ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8";
    }
    server.Get(route, [bytes = std::string(file.bytes), type](const httplib::Request&, httplib::Response& res) {
      res.set_content(bytes, type);
    });
  }
  server.Get(R"(/overlay/images/([^/]+))", [](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    const char* type = imageType(name);
    const auto path = type ? imageFile(name) : std::nullopt;
    std::error_code error;
    if (!path || std::filesystem::file_size(*path, error) > maxImageBytes || error) {
      res.status = 404;
      res.set_content("Image introuvable dans le dossier images (PNG, GIF ou WebP)", textType);
      return;
    }
    std::ifstream in(*path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    res.set_content(std::move(bytes).str(), type);
  });
  // Each overlay's push stream: the state at once, then each alert and each
  // new state as they happen.
  server.WebSocket("/overlay/stream", [config, state](const httplib::Request&, httplib::ws::WebSocket& ws) {
    gifts::OverlayFeed& feed = state->overlays;
    if (!feed.follow()) {
      ws.close(httplib::ws::CloseStatus::GoingAway, "trop d'overlays ouverts");
      return;
    }
    std::uint64_t seen = feed.published();
    bool open = ws.send(common::jsonText(gifts::overlayState(*config->current(), state->session)));
    auto quietSince = std::chrono::steady_clock::now();
    while (open && ws.is_open()) {
      const auto messages = feed.next(seen, std::chrono::seconds(1));
      for (const std::string& message : messages) open = open && ws.send(message);
      const auto now = std::chrono::steady_clock::now();
      if (!messages.empty()) {
        quietSince = now;
      } else if (now - quietSince >= streamBeat) {
        open = ws.send(R"({"type":"beat"})");
        quietSince = now;
      }
    }
    feed.unfollow();
  });
  // The images an alert may show, for the page's form.
  server.Get("/api/images", [](const httplib::Request&, httplib::Response& res) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(fs::u8path("images"), error);
         !error && entry != fs::directory_iterator() && names.size() < maxSoundFiles; entry.increment(error)) {
      const std::u8string name = entry->path().filename().u8string();
      std::string shown(name.begin(), name.end());
      if (imageType(shown) && entry->is_regular_file(error)) names.push_back("images/" + shown);
    }
    std::sort(names.begin(), names.end());
    res.set_content(common::jsonText(names), jsonReplyType);
  });
  server.Get("/api/overlays", [config, port = parts.status.port](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(overlayAddresses(port, config->current()->overlayKey)), jsonReplyType);
  });
  // A new key for the overlays' addresses from another computer: the old
  // addresses stop working.
  server.Post("/api/overlay-key", [config, save = parts.save, port = parts.status.port](const httplib::Request&,
                                                                                        httplib::Response& res) {
    const std::string key = newPageToken();
    if (const auto saved = save([&](std::string_view text) { return config::withOverlayKey(text, key); }); !saved) {
      return answerSave(res, saved);
    }
    res.set_content(common::jsonText(overlayAddresses(port, key)), jsonReplyType);
  });
}

}  // namespace endpoint
