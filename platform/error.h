// The one way failure is reported across the program: an Error says what
// failed (the OS's error code or the program's own finding), during which
// step, and on which path. A success holds nothing and takes no memory, so
// the operations on the per-file path allocate only when they fail.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kelvarin {

class Error {
 public:
  // What was being done; chooses the verb of message().
  enum class Step : std::uint8_t { other, open, read, write, create, rename, remove };

  Error() = default;  // success

  // A failure the OS reported (errno, or GetLastError() on Windows).
  static Error os(int code, Step step = Step::other) {
    Error error;
    error.code_ = code != 0 ? code : kUnknownCode;
    error.step_ = step;
    return error;
  }
  // A failure that is the program's own finding ("not a regular file").
  static Error because(std::string reason, Step step = Step::other) {
    Error error;
    error.reason_ = std::move(reason);
    error.step_ = step;
    return error;
  }

  bool ok() const { return code_ == 0 && reason_.empty(); }
  int os_code() const { return code_; }
  Step step() const { return step_; }
  const std::string& path() const { return path_; }

  // Names the path the failure concerns, for message().
  Error& on(std::string path) {
    path_ = std::move(path);
    return *this;
  }
  Error& during(Step step) {
    step_ = step;
    return *this;
  }

  // Why it failed: the OS's words for the code ("No such file or
  // directory"), or the program's finding; empty for a success.
  std::string cause() const;
  // "Unable to <step> <path>: <cause>".
  std::string message() const;

 private:
  // A failed call that left no error code must still not read as success.
  static constexpr int kUnknownCode = -1;

  int code_ = 0;
  Step step_ = Step::other;
  std::string reason_;
  std::string path_;
};

// A value, or the Error that kept it from being made.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return value_.has_value(); }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  const Error& error() const { return error_; }

 private:
  std::optional<T> value_;
  Error error_;
};

}  // namespace kelvarin
