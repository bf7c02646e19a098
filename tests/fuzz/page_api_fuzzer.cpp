// The server as the program runs it, the page's calls and the relay's
// included, fed over a real connection: the first byte picks the call, the
// rest is its body (or its query). A crash, a call left without an answer, a
// JSON call answered with what is not JSON, or a save that leaves a file the
// program cannot load, is a finding.
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

namespace {

constexpr int port = 5000;
const std::string pageToken(32, 'f');
const std::string file = config::configFileName;

struct Call {
  const char* method;
  const char* path;
};
constexpr Call calls[] = {{"POST", "/api/gift"},    {"POST", "/api/gift/remove"}, {"POST", "/api/token"},
                          {"POST", "/api/preview"}, {"POST", "/api/test"},        {"POST", "/api/secret"},
                          {"GET", "/api/state"},    {"GET", "/api/requests"},     {"GET", "/api/sounds"},
                          {"GET", "/api/secret"},   {"POST", "/webhook"},         {"GET", "/webhook"}};

#define FUZZ_CHECK(condition) \
  if (!(condition)) std::abort()

// One server for the whole run, in a folder of its own (in memory where the
// system has it: every save is flushed to the disk).
httplib::Client& server() {
  static httplib::Client* client = [] {
    const std::filesystem::path folder =
        std::filesystem::path(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
        ("koravel-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "sounds");
    std::filesystem::current_path(folder);
    std::ofstream(folder / "sounds" / "a.mp3") << "ID3";
    const std::string text =
        R"({"token": "t0k", "gifts": {"Rose": {"action": "key", "target": "g", "hold": 10, "sound": "sounds/a.mp3"},)"
        R"( "Win": {"action": "webhook", "target": "https://127.0.0.1:1/x?token=t0k&n={count}"}}})";
    std::ofstream(file) << text;
    recording::reset();
    auto live = std::make_shared<config::LiveConfig>(*config::parseConfig(text));
    auto gifts = std::make_shared<gifts::GiftState>();
    auto reload = std::make_shared<app::ConfigReload>(file, live, text, [] {});
    auto* http = new endpoint::HttpServer();
    FUZZ_CHECK(http->open("127.0.0.1", port, false));
    endpoint::registerRoutes(*http, live, gifts);
    endpoint::registerPage(*http, live, gifts, {"fuzz", port, {}, {}}, pageToken,
                           [reload](const auto& edit) { return reload->save(edit); });
    std::thread([http] { (void)http->serve(); }).detach();
    auto* made = new httplib::Client("127.0.0.1", port);
    made->set_read_timeout(std::chrono::seconds(30));
    made->set_default_headers({{"Host", "localhost:" + std::to_string(port)}, {"X-Page-Token", pageToken}});
    return made;
  }();
  return *client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Call& call = calls[data[0] % std::size(calls)];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto reply = std::string_view(call.method) == "GET"
                         ? server().Get(std::string(call.path) + "?" + httplib::encode_uri_component(rest))
                         : server().Post(call.path, rest, "application/json");
  FUZZ_CHECK(reply && reply->status >= 200 && reply->status < 500);
  if (reply->get_header_value("Content-Type").starts_with("application/json")) {
    FUZZ_CHECK(nlohmann::json::accept(reply->body));
  }
  // Whatever was saved loads.
  const auto text = config::readConfigFile(file);
  FUZZ_CHECK(text && config::parseConfig(*text));
  return 0;
}
