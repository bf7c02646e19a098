#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.hpp"
#include "common/thread_safety.hpp"
#include "config/live_config.hpp"

namespace app {

// The summary line of a loaded configuration ("Configuration chargee: N
// cadeaux configures", with `verb`), then one line for each gift that cannot
// work as written.
void printLoaded(const std::string& verb, const config::LoadedConfig& loaded);

// Applies the configuration file again whenever it changes, whoever wrote it
// (the control page, or Notepad while the program runs). A file that does
// not load leaves the gifts as they were and says why.
class ConfigReload : public std::enable_shared_from_this<ConfigReload> {
 public:
  // `text`: the file as it was when `live` was loaded from it. `changed` is
  // called whenever the file was applied, or refused.
  ConfigReload(std::string file, std::shared_ptr<config::LiveConfig> live, std::string text,
               std::function<void()> changed);

  // Reads the file and, when it is not as last read, applies it or says why
  // it cannot.
  void apply();

  // Writes the file as `edit` makes it of the file's text, when the result
  // loads, keeping the file as it was in a ".bak" beside it, and applies it.
  // Fails, saying why, and leaves the file as it was otherwise. Two saves at
  // once go one after the other; a file that another program writes
  // meanwhile is read again rather than overwritten.
  Result<> save(const std::function<Result<std::string>(std::string_view text)>& edit);

  // From now on, applies the file once it has been left alone for `settle`
  // after a change: editors write a file in more than one step.
  Result<> watch(std::chrono::milliseconds settle);

 private:
  void applyHoldingFile() REQUIRES(fileMutex_);

  Mutex fileMutex_;  // one reading or writing of the file at a time
  const std::string file_;
  const std::shared_ptr<config::LiveConfig> live_;
  const int servingPort_;                                       // the port of the file the program started with
  std::optional<std::string> lastText_ GUARDED_BY(fileMutex_);  // none: the file could not be read
  std::string lastProblem_ GUARDED_BY(fileMutex_);
  const std::function<void()> changed_;
};

}  // namespace app
