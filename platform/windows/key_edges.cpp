#include "platform/windows/key_edges.hpp"

#include <algorithm>
#include <iterator>

namespace platform::win {

Result<> HeldKeys::down(std::span<const VirtualKey> keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_) return Failure{"le programme se ferme"};
  if (const unsigned taken = calls_.send(keys, false); taken != keys.size()) {
    const std::string reason = calls_.lastError();
    calls_.send(keys.first(taken), true);
    return Failure{"le systeme n'a pris que " + std::to_string(taken) + " des " + std::to_string(keys.size()) +
                   " appuis (" + reason + ")"};
  }
  held_.insert(held_.end(), keys.begin(), keys.end());
  return {};
}

Result<> HeldKeys::up(std::span<const VirtualKey> keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto heldAt = [this](const VirtualKey& key) {
    return std::ranges::find_if(held_, [&](const VirtualKey& k) { return k.code == key.code; });
  };
  // A key is gone when the program's end has released it already.
  std::vector<VirtualKey> releasing;
  std::ranges::copy_if(keys, std::back_inserter(releasing),
                       [&](const VirtualKey& key) { return heldAt(key) != held_.end(); });
  // The events go last key first: those taken are the last ones.
  const unsigned taken = calls_.send(releasing, true);
  for (std::size_t i = releasing.size() - taken; i < releasing.size(); ++i) held_.erase(heldAt(releasing[i]));
  if (taken != releasing.size()) {
    return Failure{"le systeme n'a pas pris le relachement des touches (" + calls_.lastError() + ")"};
  }
  return {};
}

void HeldKeys::releaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  ending_ = true;
  calls_.send(held_, true);
  held_.clear();
}

}  // namespace platform::win
