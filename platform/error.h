// The one way failure is reported across the program: an Error says what
// kind of failure it is, during which step, why, and on which path. The
// path travels as data, apart from the words, so that each front end
// phrases the line itself. A success holds nothing and takes no memory, so
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

  // What kind of failure it is, for the callers that act on it. The OS's
  // codes are sorted into these where they are made, so that no caller
  // compares codes or texts.
  enum class Kind : std::uint8_t {
    none,        // success
    not_found,   // the name is not there
    name_taken,  // something holds the name already
    not_empty,   // a folder to remove still holds something
    locked,      // another process holds it
    ended_early, // a file ends before the bytes asked of it
    no_memory,   // memory ran out
    too_many_open,  // the process, or the system, has as many files open as it may
    unusable,    // data that can't be used as they stand (a damaged index)
    not_a_folder, // something other than a folder (a file, a device) holds the name
    is_link,     // a link holds the name, and links are not followed
    no_space,    // the device is full, or the user's quota is used up
    read_only,   // the file system takes no writes
    other,
  };

  // What the program found itself, where no OS code says it; the front
  // ends put it into words.
  enum class Finding : std::uint8_t {
    none,
    file_ends_early,        // a file read ends before its last byte
    archive_ends_early,     // the archive ends before a file's last byte
    index_ends_early,       // the archive ends inside its index
    another_run_writing,    // another run holds what was to be removed
    another_run_took_name,  // another run took the temporary name meanwhile
  };

  Error() = default;  // success

  // A failure the OS reported (errno, or GetLastError() on Windows),
  // sorted into its kind by the OS's own file.
  static Error os(int code, Step step = Step::other);
  // A failure that is the program's own finding ("not a regular file").
  static Error because(std::string reason, Step step = Step::other) {
    return Error(Kind::other, 0, step, std::move(reason));
  }
  static Error of_kind(Kind kind, std::string reason, Step step = Step::other) {
    return Error(kind, 0, step, std::move(reason));
  }
  static Error found(Kind kind, Finding finding, Step step = Step::other) {
    Error error(kind, 0, step, {});
    error.finding_ = finding;
    return error;
  }
  static Error out_of_memory() { return Error(Kind::no_memory, 0, Step::other, "out of memory"); }

  bool ok() const { return kind_ == Kind::none; }
  Kind kind() const { return kind_; }
  bool is_not_found() const { return kind_ == Kind::not_found; }
  bool is_name_taken() const { return kind_ == Kind::name_taken; }
  bool is_not_empty() const { return kind_ == Kind::not_empty; }
  bool is_locked() const { return kind_ == Kind::locked; }
  bool is_out_of_memory() const { return kind_ == Kind::no_memory; }
  bool is_too_many_open() const { return kind_ == Kind::too_many_open; }
  bool is_unusable() const { return kind_ == Kind::unusable; }
  bool is_ended_early() const { return kind_ == Kind::ended_early; }
  bool is_not_a_folder() const { return kind_ == Kind::not_a_folder; }
  bool is_link() const { return kind_ == Kind::is_link; }
  bool is_no_space() const { return kind_ == Kind::no_space; }
  bool is_read_only() const { return kind_ == Kind::read_only; }
  Finding finding() const { return finding_; }

  int os_code() const { return code_; }
  Step step() const { return step_; }
  const std::string& path() const { return path_; }

  // Names the path the failure concerns.
  Error& on(std::string path) {
    path_ = std::move(path);
    return *this;
  }
  Error& during(Step step) {
    step_ = step;
    return *this;
  }

  // Why it failed: the OS's words for the code ("No such file or
  // directory"), or the reason it was made with; empty for a success and
  // for a Finding, which the front ends word.
  std::string cause() const;
  // "Unable to <step> <path>: <cause>".
  std::string message() const;

 private:
  Error(Kind kind, int code, Step step, std::string reason)
      : kind_(kind), step_(step), code_(code), reason_(std::move(reason)) {}

  Kind kind_ = Kind::none;
  Step step_ = Step::other;
  Finding finding_ = Finding::none;
  int code_ = 0;
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
