#include <cstddef>

#include "app/webhook_receiver.hpp"
#include "common/console.hpp"
#include "config/config_file.hpp"
#include "platform/platform.hpp"

namespace {
// Enough for the deepest work a thread does (a TLS handshake, the library's
// 16 KiB read buffer, parsing a request) many times over.
constexpr std::size_t threadStackBytes = 256 * 1024;
}  // namespace

int main() {
  platform::useUtf8Console();
  platform::releaseKeysAtExit();
  platform::setThreadStackSize(threadStackBytes);
  console::printLine("=== ORBEK CADEAUX / SONS ILLIMITES ===");
  console::printLine("=== KORAVEL ===");
  const auto receiver = app::WebhookReceiver::load(config::configFileName);
  const Result<> served = receiver ? receiver->start(5000) : receiver.failure();
  if (!served) console::printLine(served.reason());
  return app::exitCode(served.ok());
}
