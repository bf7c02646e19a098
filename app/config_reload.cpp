#include "app/config_reload.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <thread>

#include "actions/gift_check.hpp"
#include "common/console.hpp"
#include "common/thread_safety.hpp"
#include "platform/platform.hpp"

namespace app {

void printLoaded(const std::string& verb, const config::LoadedConfig& loaded) {
  console::printLine("Configuration " + verb + ": " + std::to_string(loaded.gifts.size()) + " cadeaux configures");
  for (const auto& [name, gift] : loaded.gifts) {
    if (const auto warning = actions::giftWarning(name, gift)) console::printLine(*warning);
  }
}

ConfigReload::ConfigReload(std::string file, std::shared_ptr<config::LiveConfig> live, std::string text,
                           std::function<void()> changed)
    : file_(std::move(file)),
      live_(std::move(live)),
      servingPort_(live_->current()->port),
      lastText_(std::move(text)),
      changed_(std::move(changed)) {}

void ConfigReload::apply() {
  MutexLock lock(fileMutex_);
  applyHoldingFile();
}

Result<> ConfigReload::save(const std::function<Result<std::string>(std::string_view text)>& edit) {
  MutexLock lock(fileMutex_);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto text = config::readConfigFile(file_);
    if (!text) return Failure{"le fichier de configuration ne se lit pas : " + text.reason()};
    auto edited = edit(*text);
    if (!edited) return edited.failure();
    if (const auto loaded = config::parseConfig(*edited); !loaded) return loaded.failure();
    // Notepad may have saved in the meantime: its change is not lost.
    if (const auto again = config::readConfigFile(file_); !again || *again != *text) continue;
    if (const auto kept = platform::replaceFile(file_ + ".bak", *text); !kept) {
      return Failure{"la copie de l'ancien fichier n'a pas pu etre ecrite : " + kept.reason()};
    }
    if (const auto written = platform::replaceFile(file_, *edited); !written) {
      return Failure{"le fichier n'a pas pu etre ecrit : " + written.reason()};
    }
    applyHoldingFile();
    return {};
  }
  return Failure{"un autre programme ecrit le fichier sans cesse ; reessayez"};
}

void ConfigReload::applyHoldingFile() {
  const auto text = config::readConfigFile(file_);
  if (text && *text == lastText_) return;
  Result<config::LoadedConfig> loaded =
      text ? config::parseConfig(*text)
           : Result<config::LoadedConfig>(
                 Failure{"Impossible de lire le fichier de configuration " + file_ + " : " + text.reason()});
  // A file that could not be read is applied afresh once it can, whatever
  // it holds.
  lastText_ = text ? std::optional<std::string>(*text) : std::nullopt;
  if (!loaded) {
    // Said once, however many times the file is written with the mistake.
    if (loaded.reason() != lastProblem_) {
      console::printLines(std::array<std::string_view, 2>{
          loaded.reason(), "Les cadeaux restent ceux d'avant, jusqu'a ce que le fichier se charge."});
    }
    lastProblem_ = loaded.reason();
    live_->refuse(loaded.reason());
    changed_();
    return;
  }
  lastProblem_.clear();
  printLoaded("rechargee", *loaded);
  // The relay's address cannot change under it while the program runs.
  if (loaded->port != servingPort_) {
    console::printLine("Le port " + std::to_string(loaded->port) +
                       " s'appliquera au prochain demarrage ; d'ici la, les cadeaux arrivent toujours sur le port " +
                       std::to_string(servingPort_) + ".");
  }
  live_->replace(std::move(*loaded));
  changed_();
}

Result<> ConfigReload::watch(std::chrono::milliseconds settle) {
  struct Changes {
    Mutex mutex;
    CondVar changed;
    bool pending GUARDED_BY(mutex) = false;
  };
  const auto changes = std::make_shared<Changes>();
  const std::filesystem::path path(file_);
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  const auto watched =
      platform::watchFolder(folder, [changes, name = path.filename().string()](const std::string& entry) {
        if (!entry.empty() && entry != name) return;
        MutexLock lock(changes->mutex);
        changes->pending = true;
        changes->changed.notify_one();
      });
  if (!watched) return watched;
  std::thread([self = shared_from_this(), changes, settle] {
    MutexLock lock(changes->mutex);
    for (;;) {
      changes->changed.wait(lock, [&]() REQUIRES(changes->mutex) { return changes->pending; });
      do {
        changes->pending = false;
      } while (changes->changed.wait_for(lock, settle, [&]() REQUIRES(changes->mutex) { return changes->pending; }));
      lock.unlock();
      self->apply();
      lock.lock();
    }
  }).detach();
  return {};
}

}  // namespace app
