#include <cstddef>
#include <string_view>

#include "app/webhook_receiver.hpp"
#include "common/console.hpp"
#include "config/config_file.hpp"
#include "platform/platform.hpp"

namespace {
// Enough for the deepest work a thread does (a TLS handshake, the library's
// 16 KiB read buffer, parsing a request) many times over.
constexpr std::size_t threadStackBytes = 256 * 1024;

// A double-click starts the program in its own folder, where its file and
// its sounds are. Said at once when it was started otherwise.
void checkFolder() {
  if (const auto moved = platform::leaveSystemFolder()) {
    const auto& [system, own] = *moved;
    console::printLine("Lance depuis le dossier de Windows (" + system +
                       ") : le programme utilise son propre dossier, " + own);
  }
  if (const auto temporary = platform::programInTemporaryFolder()) {
    console::printLine("Attention : le programme tourne depuis un dossier temporaire (" + *temporary +
                       "), sans doute ouvert dans le zip ; ce qu'il y enregistre sera perdu. Fermez-le, extrayez "
                       "d'abord le zip (clic droit, Extraire tout...) et lancez-le depuis le dossier extrait.");
  }
}
}  // namespace

int main(int argc, char** argv) {
  platform::useUtf8Console();
  platform::tellFatalFaults();
  if (argc > 1 && std::string_view(argv[1]) == "--version") {
    console::printLine("Koravel Key Webhook " KORAVEL_VERSION);
    console::flush();
    return 0;
  }
  platform::releaseKeysAtExit();
  platform::setThreadStackSize(threadStackBytes);
  console::printLine("=== ORBEK CADEAUX / SONS ILLIMITES ===");
  console::printLine("=== KORAVEL ===");
  checkFolder();
  const auto receiver = app::WebhookReceiver::load(config::configFileName);
  const Result<> served = receiver ? receiver->start() : receiver.failure();
  if (!served) console::printLine(served.reason());
  return app::exitCode(served.ok());
}
