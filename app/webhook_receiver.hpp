#pragma once

#include <memory>
#include <string>

#include "common/result.hpp"
#include "config/live_config.hpp"

namespace app {

// The gifts the program serves, as loaded at start-up and whenever the file
// changes, and the server that turns them into actions.
class WebhookReceiver {
 public:
  // Reads the configuration file, running the first-run dialogue when it is
  // absent. A failure's reason is the console lines that say why.
  static Result<WebhookReceiver> load(const std::string& configFile);

  // Binds the file's port and serves until the server stops; fails, with
  // the console lines that say why, when the port cannot be had or the
  // server had to stop.
  Result<> start() const;

 private:
  WebhookReceiver(std::string file, config::LoadedConfig config, std::string text, bool firstRun);

  bool firstRun_;  // the file was made by this start
  std::string file_;
  // Shared with the gift handler, which the server's threads run, and
  // replaced when the file changes.
  std::shared_ptr<config::LiveConfig> config_;
  std::string text_;  // the file as it was loaded
};

// The process's exit code; on a failure, when the console window was opened
// for this program alone, first waits for Enter so that the window stays
// readable.
int exitCode(bool succeeded);

}  // namespace app
