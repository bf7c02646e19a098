#pragma once

#include <map>
#include <optional>
#include <string>

#include "actions/step.hpp"
#include "common/thread_safety.hpp"

namespace gifts {

// Where the keys went, as the page shows it: for each key gift, whether its
// window had the focus at its last press; and the window of a program run as
// administrator that a press was refused for, until a press goes through.
class LastPresses {
 public:
  struct Last {
    bool hadFocus;
    std::string window;  // the window that had the focus; empty for none
  };

  // Takes note of a gift's step; only keys' count.
  void saw(const std::string& gift, const actions::Step& step);
  std::optional<Last> of(const std::string& gift) const;
  std::string aboveThisProgram() const;

 private:
  mutable Mutex mutex_;
  std::map<std::string, Last> last_ GUARDED_BY(mutex_);  // configured key gifts only: their names are the file's
  std::string above_ GUARDED_BY(mutex_);
};

}  // namespace gifts
