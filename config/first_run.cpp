#include "config/first_run.hpp"

#include <nlohmann/json.hpp>

#include "common/console.hpp"
#include "config/config_file.hpp"
#include "platform/platform.hpp"

namespace config {

using nlohmann::json;

bool isUtf8(std::string_view text) {
  try {
    (void)json(std::string(text)).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

std::string defaultConfigText(const std::string& token) {
  const std::string webhookBase = std::string(winCounterService) + "/addwinv2.php?";
  auto gift = [](const std::string& action, const std::string& target, const std::string& sound, int volume) {
    return json{{"action", action}, {"target", target}, {"sound", sound}, {"volume", volume}};
  };
  json document;
  document["token"] = token;
  document["gifts"] = {
      {"Rose", gift("key", "g", "sounds/rose.mp3", 100)},
      {"TikTok", gift("key", "space", "sounds/tiktok.mp3", 80)},
      {"Coeur sur toi", gift("key", "g", "sounds/coeur.mp3", 100)},
      {"Gants de boxe dores", gift("key", "n", "sounds/boxe.mp3", 90)},
      {"Tu es incroyable", gift("webhook", webhookBase + "win=1&token=" + token, "sounds/incroyable.mp3", 100)},
      {"Gerry la girafe", gift("webhook", webhookBase + "win=5&token=" + token, "sounds/girafe.mp3", 100)},
      {"Drift en voiture", gift("webhook", webhookBase + "win=10&token=" + token, "sounds/drift.mp3", 100)},
  };
  return document.dump(4);
}

namespace {
std::string askToken() {
  std::string token;
  for (;;) {
    console::prompt("Entrez le token de votre compte Koravel : ");
    if (!console::readLine(token)) return {};
    if (isUtf8(token)) return token;
    console::printLine(
        "Ce token contient des caracteres que le fichier de configuration ne peut pas enregistrer "
        "(texte non UTF-8). Tapez-le a nouveau.");
  }
}
}  // namespace

Result<> createDefaultConfig(const std::string& path) {
  console::printLine("\n=== CONFIGURATION INITIALE ===");
  const std::string token = askToken();
  if (auto written = platform::replaceFile(path, defaultConfigText(token)); !written) return written;
  console::printLine("\nFichier de configuration cree: " + path);
  console::printLine("\nN'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!");
  return {};
}

}  // namespace config
