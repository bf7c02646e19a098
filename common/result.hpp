#pragma once

#include <concepts>
#include <string>
#include <utility>
#include <variant>

// How the program answers "did it work?" everywhere: a Result holds what was
// asked for, or the Failure that says why not, in plain words for the
// console. Result<> holds nothing but success. Where a caller acts on several
// kinds of ending (a connection to try again, a key the layout lacks), the
// value says which; where it tells kinds of failure apart without a reason
// (a pure parser's), the failure is an enumeration instead of a Failure.

struct Failure {
  std::string reason;
};

template <typename T = std::monostate, typename E = Failure>
class [[nodiscard]] Result {
 public:
  Result() requires std::same_as<T, std::monostate>
  = default;
  Result(T value) : state_(std::move(value)) {}
  Result(E failure) : state_(std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }

  const E& failure() const { return std::get<1>(state_); }
  const std::string& reason() const requires std::same_as<E, Failure> { return failure().reason; }

 private:
  std::variant<T, E> state_;
};
