#include <memory>

#include "app/webhook_receiver.hpp"
#include "common/console.hpp"
#include "platform/platform.hpp"

int main() {
  platform::useUtf8Console();
  console::printLine("=== ORBEK CADEAUX / SONS ILLIMITES ===");
  console::printLine("=== KORAVEL ===");
  auto receiver = std::make_shared<app::WebhookReceiver>();
  const bool served = receiver->start(5000);
  receiver.reset();
  if (!served) app::endProcess(1);
  return 0;
}
