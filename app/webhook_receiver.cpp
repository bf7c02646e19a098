#include "app/webhook_receiver.hpp"

#include <variant>

#include "common/console.hpp"
#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "endpoint/gift_server.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "platform/platform.hpp"

namespace app {

int exitCode(bool succeeded) {
  if (!succeeded && platform::aloneOnConsole()) {
    console::prompt("\nAppuyez sur Entree pour fermer cette fenetre...");
    std::string ignored;
    console::readLine(ignored);
  }
  return succeeded ? 0 : 1;
}

WebhookReceiver::WebhookReceiver(config::GiftTable gifts, std::string secret)
    : gifts_(std::make_shared<const config::GiftTable>(std::move(gifts))), secret_(std::move(secret)) {}

namespace {

// The configuration, or nothing after saying why.
std::optional<config::LoadedConfig> loadConfig(const std::string& configFile) {
  config::FileRead file = config::readConfigFile(configFile);
  if (file.state == config::FileState::Absent) {
    console::printLine("Fichier de configuration non trouve. Creation...");
    if (!config::createDefaultConfig(configFile)) return std::nullopt;
    file = config::readConfigFile(configFile);
  }
  if (file.state != config::FileState::Read) {
    const std::string reason = file.state == config::FileState::Absent ? "il n'existe pas" : file.reason;
    console::printLine("Impossible de lire le fichier de configuration " + configFile + " : " + reason);
    return std::nullopt;
  }
  auto parsed = config::parseConfig(file.text);
  if (const auto* problem = std::get_if<config::ConfigProblem>(&parsed)) {
    console::printLine(problem->cause);
    return std::nullopt;
  }
  return std::move(std::get<config::LoadedConfig>(parsed));
}

}  // namespace

std::optional<WebhookReceiver> WebhookReceiver::load(const std::string& configFile) {
  auto loaded = loadConfig(configFile);
  if (!loaded) {
    console::printLine("Erreur lors du chargement de la configuration");
    return std::nullopt;
  }
  console::printLine("Configuration chargee: " + std::to_string(loaded->gifts.size()) + " cadeaux configures");
  return WebhookReceiver(std::move(loaded->gifts), std::move(loaded->secret));
}

bool WebhookReceiver::start(int port) const {
  endpoint::GiftServer server;
  endpoint::registerRoutes(server, gifts_, secret_);

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
