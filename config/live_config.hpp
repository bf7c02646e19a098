#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "config/config_file.hpp"

namespace config {

// The configuration the program serves now: the file as it last loaded and,
// when the file changed since and does not load, why. A gift takes the
// configuration once, on arrival, and finishes with it whatever comes next.
class LiveConfig {
 public:
  explicit LiveConfig(LoadedConfig first) : current_(std::make_shared<const LoadedConfig>(std::move(first))) {}

  std::shared_ptr<const LoadedConfig> current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
  }
  std::string problem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
  }
  void replace(LoadedConfig next) {
    auto loaded = std::make_shared<const LoadedConfig>(std::move(next));
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(loaded);
    problem_.clear();
  }
  void refuse(std::string why) {
    std::lock_guard<std::mutex> lock(mutex_);
    problem_ = std::move(why);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const LoadedConfig> current_;
  std::string problem_;
};

}  // namespace config
