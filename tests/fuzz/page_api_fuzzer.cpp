// The server as the program runs it, fed over a real connection: the first
// byte picks one of the page's calls or the relay's, the rest is its body (or
// query). A crash, a call without an answer, a JSON reply that is not JSON,
// or a save that leaves a file the program cannot load, is a finding.
#include <httplib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/config_reload.hpp"
#include "config/config_file.hpp"
#include "endpoint/control_page.hpp"
#include "endpoint/gift_handler.hpp"
#include "endpoint/http_server.hpp"
#include "recording_platform.hpp"

#define FUZZ_CHECK(condition) \
  if (!(condition)) std::abort()

namespace {

const std::pair<const char*, const char*> calls[] = {
    {"POST", "/api/gift"},  {"POST", "/api/gift/remove"}, {"POST", "/api/token"}, {"POST", "/api/preview"},
    {"POST", "/api/test"},  {"POST", "/api/secret"},      {"GET", "/api/state"},  {"GET", "/api/requests"},
    {"GET", "/api/sounds"}, {"GET", "/api/secret"},       {"POST", "/webhook"},   {"GET", "/webhook"}};

// One server for the whole run, in a folder of its own, in memory: every
// save is flushed to the disk.
httplib::Client& server() {
  static httplib::Client* client = [] {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path("/dev/shm") / ("koravel-fuzz-" + std::to_string(::getpid())) / "sounds";
    fs::create_directories(folder);
    fs::current_path(folder.parent_path());
    std::ofstream("sounds/a.mp3") << "ID3";
    const std::string text =
        R"({"token": "t0k", "gifts": {"Rose": {"action": "key", "target": "g", "hold": 10, "sound": "sounds/a.mp3"},)"
        R"( "Win": {"action": "webhook", "target": "https://127.0.0.1:1/x?token=t0k&n={count}"}}})";
    std::ofstream(config::configFileName) << text;
    recording::reset();
    auto live = std::make_shared<config::LiveConfig>(*config::parseConfig(text));
    auto gifts = std::make_shared<gifts::EventState>();
    auto reload = std::make_shared<app::ConfigReload>(config::configFileName, live, text, [] {});
    auto* http = new endpoint::HttpServer();
    FUZZ_CHECK(http->open("127.0.0.1", 5000, false));
    endpoint::registerRoutes(*http, live, gifts);
    endpoint::registerPage(*http, live, gifts, {"fuzz", 5000, {}}, std::string(32, 'f'),
                           [reload](const auto& edit) { return reload->save(edit); });
    std::thread([http] { (void)http->serve(); }).detach();
    auto* made = new httplib::Client("127.0.0.1", 5000);
    made->set_default_headers({{"Host", "localhost:5000"}, {"X-Page-Token", std::string(32, 'f')}});
    return made;
  }();
  return *client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& [method, path] = calls[data[0] % std::size(calls)];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto reply = std::string_view(method) == "GET"
                         ? server().Get(std::string(path) + "?" + httplib::encode_uri_component(rest))
                         : server().Post(path, rest, "application/json");
  FUZZ_CHECK(reply && reply->status >= 200 && reply->status < 500);
  if (reply->get_header_value("Content-Type").starts_with("application/json")) {
    FUZZ_CHECK(nlohmann::json::accept(reply->body));
  }
  const auto text = config::readConfigFile(config::configFileName);
  FUZZ_CHECK(text && config::parseConfig(*text));  // whatever was saved loads
  return 0;
}
