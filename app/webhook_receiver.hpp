#pragma once

#include <memory>
#include <string>

#include "common/result.hpp"
#include "config/config_file.hpp"

namespace app {

// The gifts the program serves, as loaded at start-up, and the server that
// turns them into actions.
class WebhookReceiver {
 public:
  // Reads the configuration file, running the first-run dialogue when it is
  // absent. A failure's reason is the console lines that say why.
  static Result<WebhookReceiver> load(const std::string& configFile);

  // Binds the port and serves until the server stops; fails, with the
  // console lines that say why, when the port cannot be had or the server had
  // to stop.
  Result<> start(int port) const;

 private:
  explicit WebhookReceiver(config::LoadedConfig config);

  // Shared with the gift handler, which the server's threads run.
  std::shared_ptr<const config::LoadedConfig> config_;
};

// The process's exit code; on a failure, when the console window was opened
// for this program alone, first waits for Enter so that the window stays
// readable.
int exitCode(bool succeeded);

}  // namespace app
