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
}  // namespace

int main(int argc, char** argv) {
  platform::useUtf8Console();
  if (argc > 1 && std::string_view(argv[1]) == "--version") {
    console::printLine("Koravel Key Webhook " KORAVEL_VERSION);
    console::flush();
    return 0;
  }
  platform::releaseKeysAtExit();
  platform::setThreadStackSize(threadStackBytes);
  console::printLine("=== ORBEK CADEAUX / SONS ILLIMITES ===");
  console::printLine("=== KORAVEL ===");
  const auto receiver = app::WebhookReceiver::load(config::configFileName);
  const Result<> served = receiver ? receiver->start(5000) : receiver.failure();
  if (!served) console::printLine(served.reason());
  return app::exitCode(served.ok());
}
