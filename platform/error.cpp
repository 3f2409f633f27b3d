// The words of an Error.
#include "platform/error.h"

#include "platform/os.h"

namespace kelvarin {

std::string Error::cause() const {
  if (ok()) return {};
  if (!reason_.empty()) return reason_;
  // Made by the program without words: a Finding, or an unusable index.
  if (code_ == 0) return {};
  return platform::os::describe_error(code_);
}

std::string Error::message() const {
  static constexpr const char* kVerbs[] = {"use", "open", "read", "write", "create", "rename", "remove"};
  std::string text = "Unable to ";
  text += kVerbs[static_cast<int>(step_)];
  if (!path_.empty()) text += " " + path_;
  return text + ": " + cause();
}

}  // namespace kelvarin
