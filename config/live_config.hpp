#pragma once

#include <memory>
#include <string>
#include <utility>

#include "common/thread_safety.hpp"
#include "config/config_file.hpp"

namespace config {

// The configuration the program serves now: the file as it last loaded and,
// when the file changed since and does not load, why. A gift takes the
// configuration once, on arrival, and finishes with it whatever comes next.
class LiveConfig {
 public:
  explicit LiveConfig(LoadedConfig first) : current_(std::make_shared<const LoadedConfig>(std::move(first))) {}

  std::shared_ptr<const LoadedConfig> current() const {
    MutexLock lock(mutex_);
    return current_;
  }
  std::string problem() const {
    MutexLock lock(mutex_);
    return problem_;
  }
  void replace(LoadedConfig next) {
    auto loaded = std::make_shared<const LoadedConfig>(std::move(next));
    MutexLock lock(mutex_);
    current_ = std::move(loaded);
    problem_.clear();
  }
  void refuse(std::string why) {
    MutexLock lock(mutex_);
    problem_ = std::move(why);
  }

 private:
  mutable Mutex mutex_;
  std::shared_ptr<const LoadedConfig> current_ GUARDED_BY(mutex_);
  std::string problem_ GUARDED_BY(mutex_);
};

}  // namespace config
