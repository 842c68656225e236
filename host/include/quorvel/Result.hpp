#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel {

// The outcome of a host-facing call: success with a value, or an error message.
template <typename T>
class Result {
 public:
  // A successful result holding `value`.
  static Result success(T value) { return Result(std::move(value)); }
  // A failed result carrying a human-readable message.
  static Result failure(std::string message) { return Result(std::nullopt, std::move(message)); }

  // True for a successful result.
  bool isSuccess() const noexcept { return value_.has_value(); }
  // The value of a successful result; throws std::logic_error on a failed one.
  const T& value() const {
    if (!value_) throw std::logic_error("Result::value() called on a failed result: " + error_);
    return *value_;
  }
  // The error message; empty for a successful result.
  const std::string& error() const noexcept { return error_; }

 private:
  explicit Result(T value) : value_(std::move(value)) {}
  Result(std::nullopt_t, std::string message) : error_(std::move(message)) {}

  std::optional<T> value_;
  std::string error_;
};

// The outcome of a host-facing call that yields no value.
template <>
class Result<void> {
 public:
  // A successful result.
  static Result success() { return Result(true, {}); }
  // A failed result carrying a human-readable message.
  static Result failure(std::string message) { return Result(false, std::move(message)); }

  // True for a successful result.
  bool isSuccess() const noexcept { return ok_; }
  // The error message; empty for a successful result.
  const std::string& error() const noexcept { return error_; }

 private:
  Result(bool ok, std::string message) : ok_(ok), error_(std::move(message)) {}

  bool ok_;
  std::string error_;
};

}  // namespace quorvel
