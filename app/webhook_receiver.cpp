#include "app/webhook_receiver.hpp"

#include "actions/gift_check.hpp"
#include "common/console.hpp"
#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "endpoint/control_page.hpp"
#include "endpoint/gift_handler.hpp"
#include "endpoint/http_server.hpp"
#include "platform/platform.hpp"

namespace app {

int exitCode(bool succeeded) {
  if (!succeeded && platform::aloneOnConsole()) {
    console::prompt("\nAppuyez sur Entree pour fermer cette fenetre...");
    std::string ignored;
    console::readLine(ignored);
  }
  console::flush();
  return succeeded ? 0 : 1;
}

WebhookReceiver::WebhookReceiver(config::LoadedConfig config)
    : config_(std::make_shared<const config::LoadedConfig>(std::move(config))) {}

namespace {

// The configuration, or the console line that says why it cannot be had.
Result<config::LoadedConfig> loadConfig(const std::string& configFile) {
  if (config::isAbsent(configFile)) {
    console::printLine("Fichier de configuration non trouve. Creation...");
    if (const auto created = config::createDefaultConfig(configFile); !created) {
      return Failure{"Impossible de creer le fichier de configuration " + configFile + " : " + created.reason()};
    }
  }
  const auto text = config::readConfigFile(configFile);
  if (!text) return Failure{"Impossible de lire le fichier de configuration " + configFile + " : " + text.reason()};
  return config::parseConfig(*text);
}

}  // namespace

Result<WebhookReceiver> WebhookReceiver::load(const std::string& configFile) {
  auto loaded = loadConfig(configFile);
  if (!loaded) return Failure{loaded.reason() + "\nErreur lors du chargement de la configuration"};
  console::printLine("Configuration chargee: " + std::to_string(loaded->gifts.size()) + " cadeaux configures");
  for (const auto& [name, gift] : loaded->gifts) {
    if (const auto warning = actions::giftWarning(name, gift)) console::printLine(*warning);
  }
  return WebhookReceiver(std::move(*loaded));
}

Result<> WebhookReceiver::start(int port) const {
  endpoint::HttpServer server;
  // Every IPv4 address, and the IPv6 loopback: Windows tries "localhost" on
  // ::1 first, and a relay set to localhost would wait two seconds for each
  // new connection there before falling back to IPv4.
  if (const auto opened = server.open("0.0.0.0", port, true); !opened) {
    return Failure{"\nImpossible d'ouvrir le port " + std::to_string(port) + " : " + opened.reason() +
                   ". Le programme est peut-etre deja lance, ou un autre programme utilise ce port."};
  }
  // Said once here, and on the page; each gift that needs them says so again.
  endpoint::PageStatus status{KORAVEL_VERSION, port, {}, {}};
  if (const auto keys = platform::openKeyboard(); !keys) {
    status.keysProblem = keys.reason();
    console::printLine("Les touches ne pourront pas etre pressees : " + keys.reason());
  }
  if (const auto sounds = platform::openSoundOutput(); !sounds) {
    status.soundsProblem = sounds.reason();
    console::printLine("Les sons ne pourront pas etre joues : " + sounds.reason());
  }
  const auto history = std::make_shared<endpoint::GiftHistory>();
  endpoint::registerRoutes(server, config_, history);
  endpoint::registerPage(server, config_, history, std::move(status), endpoint::newPageToken());
  console::printLine("\n=== Serveur demarre sur le port " + std::to_string(port) + " ===");
  console::printLine("En attente de webhooks...\nPage de controle: " + endpoint::pageAddress(port) + "\n");
  if (const auto served = server.serve(); !served) {
    return Failure{"\nLe serveur ne peut plus recevoir de cadeaux : " + served.reason() + ". Relancez le programme."};
  }
  return {};
}

}  // namespace app
