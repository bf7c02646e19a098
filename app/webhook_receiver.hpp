#pragma once

#include <memory>
#include <string>

#include "config/gift_action.hpp"

namespace app {

// The program's one long-lived object: the configuration loaded at start-up
// and the server that turns gifts into actions. It is created owned by a
// std::shared_ptr; the gift handler holds a share of it while it can run.
class WebhookReceiver : public std::enable_shared_from_this<WebhookReceiver> {
 public:
  // Loads the configuration (running the first-run dialogue when the file is
  // absent), or ends the process with exit code 1 after saying why.
  WebhookReceiver();

  // Binds the port and serves until the server stops. Answers false, after
  // saying why, when the port cannot be had.
  bool start(int port);

  std::string token;
  config::GiftTable gifts;
  std::string secret;
  std::string configFile;

 private:
  bool loadConfig();
  bool createDefaultConfig();
};

// Ends the process with the code; on a failure, when the console window was
// opened for this program alone, first waits for Enter so the window stays
// readable.
[[noreturn]] void endProcess(int code);

}  // namespace app
