#pragma once

// The keys the program holds down on Windows, pressed and released an edge
// at a time: a chord's downs in one call to the system, its ups in another,
// so that nothing the system does meanwhile (a window taking the focus)
// comes between two keys of a chord.
//
// The call itself is handed in, so that these rules can be tried without
// Windows (whose SendInput, under wine, always takes every event).

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace platform::win {

struct VirtualKey {
  std::uint8_t code;  // 0 when the layout has no key for it
  bool extended;      // of the extended block (arrows, home...), told from the keypad's
};

struct EdgeCalls {
  // Sends the keys' downs in order, or their ups in reverse order; answers
  // how many events the system took, first ones first.
  std::function<unsigned(std::span<const VirtualKey> keys, bool up)> send;
  // Why the system took fewer, in its words.
  std::function<std::string()> lastError;
};

class HeldKeys {
 public:
  explicit HeldKeys(EdgeCalls calls) : calls_(std::move(calls)) {}

  // Presses the keys down. When the system takes only some (another desktop,
  // a program that blocks input), those it took are let go at once.
  Result<> down(std::span<const VirtualKey> keys);
  // Lets go of those of the keys held. A key the system did not let go stays
  // held, for the program's end to release.
  Result<> up(std::span<const VirtualKey> keys);
  // Lets go of every key held, and presses none from now on.
  void releaseAll();

 private:
  EdgeCalls calls_;
  std::mutex mutex_;
  std::vector<VirtualKey> held_;  // in the order pressed
  bool ending_ = false;
};

}  // namespace platform::win
