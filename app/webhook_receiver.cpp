#include "app/webhook_receiver.hpp"

#include <cstdlib>
#include <variant>

#include "common/console.hpp"
#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "endpoint/gift_server.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "platform/platform.hpp"

namespace app {

void endProcess(int code) {
  if (code != 0 && platform::aloneOnConsole()) {
    console::prompt("\nAppuyez sur Entree pour fermer cette fenetre...");
    std::string ignored;
    console::readLine(ignored);
  }
  std::exit(code);
}

WebhookReceiver::WebhookReceiver() : configFile(config::configFileName) {
  if (!loadConfig()) {
    console::printLine("Erreur lors du chargement de la configuration");
    endProcess(1);
  }
}

bool WebhookReceiver::createDefaultConfig() { return config::createDefaultConfig(configFile); }

bool WebhookReceiver::loadConfig() {
  config::FileRead file = config::readConfigFile(configFile);
  if (file.state == config::FileState::Absent) {
    console::printLine("Fichier de configuration non trouve. Creation...");
    if (!createDefaultConfig()) return false;
    file = config::readConfigFile(configFile);
  }
  if (file.state != config::FileState::Read) {
    const std::string reason = file.state == config::FileState::Absent ? "il n'existe pas" : file.reason;
    console::printLine("Impossible de lire le fichier de configuration " + configFile + " : " + reason);
    return false;
  }
  auto parsed = config::parseConfig(file.text);
  if (const auto* problem = std::get_if<config::ConfigProblem>(&parsed)) {
    console::printLine(problem->cause);
    return false;
  }
  auto& loaded = std::get<config::LoadedConfig>(parsed);
  token = std::move(loaded.token);
  gifts = std::move(loaded.gifts);
  secret = std::move(loaded.secret);
  console::printLine("Configuration chargee: " + std::to_string(gifts.size()) + " cadeaux configures");
  return true;
}

bool WebhookReceiver::start(int port) {
  endpoint::GiftServer server;
  std::shared_ptr<WebhookReceiver> self = shared_from_this();
  // The handler shares ownership of the receiver while pointing at its gifts.
  endpoint::registerRoutes(server, std::shared_ptr<const config::GiftTable>(self, &self->gifts), secret);

  // Every IPv4 address, and the IPv6 loopback: Windows tries "localhost" on
  // ::1 first, and a relay set to localhost would wait two seconds for each
  // new connection there before falling back to IPv4.
  if (const std::string failure = server.open("0.0.0.0", port, true); !failure.empty()) {
    console::printLine("\nImpossible d'ouvrir le port " + std::to_string(port) + " : " + failure +
                       ". Le programme est peut-etre deja lance, ou un autre programme utilise ce port.");
    return false;
  }
  // Said once here; each gift that needs them says so again.
  if (const auto why = platform::openKeyboard())
    console::printLine("Les touches ne pourront pas etre pressees : " + *why);
  if (const auto why = platform::openSoundOutput()) console::printLine("Les sons ne pourront pas etre joues : " + *why);
  console::printLine("\n=== Serveur demarre sur le port " + std::to_string(port) + " ===");
  console::printLine("En attente de webhooks...\n");
  if (const std::string failure = server.serve(); !failure.empty()) {
    console::printLine("\nLe serveur ne peut plus recevoir de cadeaux : " + failure + ". Relancez le programme.");
    return false;
  }
  return true;
}

}  // namespace app
