#include "app/webhook_receiver.hpp"

#include <filesystem>

#include "actions/sound.hpp"
#include "app/config_reload.hpp"
#include "common/console.hpp"
#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "endpoint/control_page.hpp"
#include "endpoint/gift_handler.hpp"
#include "endpoint/http_server.hpp"
#include "gifts/event_state.hpp"
#include "platform/platform.hpp"

namespace app {

namespace {
// How long a changed file must be left alone before it is read: editors
// write in more than one step.
constexpr std::chrono::milliseconds reloadSettle{300};
}  // namespace

int exitCode(bool succeeded) {
  if (!succeeded && platform::aloneOnConsole()) {
    console::prompt(console::pressEnterToClose);
    std::string ignored;
    console::readLine(ignored);
  }
  console::flush();
  return succeeded ? 0 : 1;
}

WebhookReceiver::WebhookReceiver(std::string file, config::LoadedConfig config, std::string text, bool firstRun)
    : firstRun_(firstRun),
      file_(std::move(file)),
      config_(std::make_shared<config::LiveConfig>(std::move(config))),
      text_(std::move(text)) {}

namespace {

// The configuration file's text, or the console line that says why it
// cannot be had.
Result<std::string> configText(const std::string& configFile, bool& made) {
  // What a save ended half way left beside the file, and its copy's.
  for (const char* left : {".tmp", ".bak.tmp"}) {
    std::error_code ignored;
    std::filesystem::remove(configFile + left, ignored);
  }
  made = config::isAbsent(configFile);
  if (made) {
    console::printLine("Fichier de configuration non trouve. Creation...");
    if (const auto created = config::createDefaultConfig(configFile); !created) {
      return Failure{"Impossible de creer le fichier de configuration " + configFile + " : " + created.reason()};
    }
  }
  const auto text = config::readConfigFile(configFile);
  if (!text) return Failure{"Impossible de lire le fichier de configuration " + configFile + " : " + text.reason()};
  return text;
}

// What the streamer reads when the port cannot be had.
Failure portRefused(int port, const platform::ListenFailure& failure) {
  const std::string first = "\nImpossible d'ouvrir le port " + std::to_string(port) + " : " + failure.reason;
  if (!failure.forbidden) {
    return Failure{first + ". Le programme est peut-etre deja lance, ou un autre programme utilise ce port."};
  }
  return Failure{first +
                 "\nLe systeme reserve ce port (sous Windows, Hyper-V, WSL ou Docker en gardent pour eux : la "
                 "commande netsh interface ipv4 show excludedportrange protocol=tcp les liste). Choisissez un autre "
                 "port dans le fichier de configuration, par exemple \"port\": 5050."};
}

}  // namespace

Result<WebhookReceiver> WebhookReceiver::load(const std::string& configFile) {
  bool created = false;
  const auto text = configText(configFile, created);
  auto loaded = text ? config::parseConfig(*text) : Result<config::LoadedConfig>(text.failure());
  if (!loaded) return Failure{loaded.reason() + "\nErreur lors du chargement de la configuration"};
  printLoaded("chargee", *loaded);
  return WebhookReceiver(configFile, std::move(*loaded), *text, created);
}

Result<> WebhookReceiver::start() const {
  const int port = config_->current()->port;
  endpoint::HttpServer server;
  // Every IPv4 address, and the IPv6 loopback: Windows tries "localhost" on
  // ::1 first, and a relay set to localhost would wait two seconds for each
  // new connection there before falling back to IPv4.
  if (const auto opened = server.open("0.0.0.0", port, true); !opened) return portRefused(port, opened.failure());
  // Said once here, and on the page; each gift that needs them says so again.
  endpoint::PageStatus status{KORAVEL_VERSION, port, {}};
  if (const auto keys = platform::openKeyboard(); !keys) {
    status.keysProblem = keys.reason();
    console::printLine("Les touches ne pourront pas etre pressees : " + keys.reason());
  }
  actions::openSoundOutput(config_->current()->soundDevice);
  // Changes to the file apply while the program runs; without the system's
  // notice of them, only a restart applies them.
  const auto gifts = std::make_shared<gifts::EventState>();
  const auto reload = std::make_shared<ConfigReload>(file_, config_, text_, [gifts, config = config_] {
    actions::useSoundDevice(config->current()->soundDevice);
    gifts->teller.configChanged();
  });
  if (const auto watched = reload->watch(reloadSettle); !watched) {
    console::printLine("Les changements du fichier de configuration ne s'appliqueront qu'au prochain demarrage : " +
                       watched.reason());
  }
  endpoint::registerRoutes(server, config_, gifts);
  endpoint::registerPage(server, config_, gifts, std::move(status), endpoint::newPageToken(),
                         [reload](const auto& edit) { return reload->save(edit); });
  console::printLine("\n=== Serveur demarre sur le port " + std::to_string(port) + " ===");
  console::printLine("En attente de webhooks...\nPage de controle: " + endpoint::pageAddress(port) + "\n");
  // The very first start shows the streamer where everything is.
  if (firstRun_) platform::openInBrowser(endpoint::pageAddress(port));
  if (const auto served = server.serve(); !served) {
    return Failure{"\nLe serveur ne peut plus recevoir de cadeaux : " + served.reason() + ". Relancez le programme."};
  }
  return {};
}

}  // namespace app
