#include <httplib.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "actions/sound.hpp"
#include "common/console.hpp"
#include "common/json_io.hpp"
#include "config/config_edit.hpp"
#include "endpoint/page_routes.hpp"
#include "platform/platform.hpp"

namespace endpoint {

using nlohmann::json;

void registerSoundRoutes(const PageParts& parts) {
  HttpServer& server = parts.server;
  const auto& config = parts.config;
  const auto& save = parts.save;
  server.Get("/api/sound-devices", [config](const httplib::Request&, httplib::Response& res) {
    const json devices{{"devices", platform::soundDevices()}, {"chosen", config->current()->soundDevice}};
    res.set_content(common::jsonText(devices), jsonReplyType);
  });
  server.Post("/api/sound-device", savingMember(save, "device", config::withSoundDevice));
  server.Post("/api/sound-device/test", [](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    const json device = body.is_object() ? body.value("device", json()) : json();
    const auto listed = platform::soundDevices();
    if (!device.is_string() || (!device.get_ref<const std::string&>().empty() &&
                                std::find(listed.begin(), listed.end(), device) == listed.end())) {
      res.status = 400;
      res.set_content(R"({"error": "pas une sortie audio de cet ordinateur"})", jsonReplyType);
      return;
    }
    if (const auto played = platform::playTone(device); !played) {
      res.set_content(common::jsonText(json{{"error", played.reason()}}), jsonReplyType);
      return;
    }
    res.set_content(R"({"playing": true})", jsonReplyType);
  });
  server.Post("/api/sounds/stop", [](const httplib::Request&, httplib::Response& res) {
    const std::size_t stopped = actions::stopAllSounds();
    console::printLine("Sons coupes depuis la page : " + std::to_string(stopped));
    res.set_content(common::jsonText(json{{"stopped", stopped}}), jsonReplyType);
  });
  // The window that has the focus now, for a gift's window rule.
  server.Get("/api/sounds", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(common::jsonText(soundFiles(".", maxSoundFiles)), jsonReplyType);
  });
  server.Post("/api/preview", [](const httplib::Request& req, httplib::Response& res) {
    const json body = common::parsedJson(req.body);
    const json sound = body.is_object() ? body.value("sound", json()) : json();
    const json volume = body.is_object() ? body.value("volume", json(100)) : json();
    const auto listed = soundFiles(".", maxSoundFiles);
    if (!sound.is_string() || !volume.is_number_integer() ||
        std::find(listed.begin(), listed.end(), sound.get<std::string>()) == listed.end()) {
      res.status = 400;
      res.set_content(R"({"error": "pas un fichier MP3, WAV ou OGG du dossier du programme"})", jsonReplyType);
      return;
    }
    config::GiftAction preview{"sound", {}, sound.get<std::string>(), volume.get<std::int32_t>()};
    actions::playSound({}, preview, std::chrono::steady_clock::now(), [](actions::Step step) {
      if (const auto line = actions::consoleLine(step); !line.empty()) console::printLine(line);
    });
    res.set_content(R"({"playing": true})", jsonReplyType);
  });
}

}  // namespace endpoint
