#include <cstddef>
#include <memory>

#include "app/webhook_receiver.hpp"
#include "common/console.hpp"
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
  auto receiver = std::make_shared<app::WebhookReceiver>();
  const bool served = receiver->start(5000);
  receiver.reset();
  if (!served) app::endProcess(1);
  return 0;
}
