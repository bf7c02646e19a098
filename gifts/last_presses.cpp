#include "gifts/last_presses.hpp"

#include "common/thread_safety.hpp"

namespace gifts {

void LastPresses::saw(const std::string& gift, const actions::Step& step) {
  using actions::StepKind;
  const bool pressed = step.kind == StepKind::KeyPressed, wrong = step.kind == StepKind::KeyWrongWindow;
  if (!pressed && !wrong && step.kind != StepKind::KeyAboveThisProgram) return;
  MutexLock lock(mutex_);
  if (pressed || wrong) last_.insert_or_assign(gift, Last{pressed, step.window});
  above_ = step.kind == StepKind::KeyAboveThisProgram ? step.window : pressed ? std::string() : above_;
}

std::optional<LastPresses::Last> LastPresses::of(const std::string& gift) const {
  MutexLock lock(mutex_);
  const auto found = last_.find(gift);
  return found == last_.end() ? std::nullopt : std::optional<Last>(found->second);
}

std::string LastPresses::aboveThisProgram() const {
  MutexLock lock(mutex_);
  return above_;
}

}  // namespace gifts
