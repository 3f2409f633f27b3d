// Name checks: the guard that keeps every output inside the destination.
#include "extract/entry_name.h"

#include "platform/platform.h"

namespace kelvarin {

const char* unsafe_name_reason(std::string_view name, bool is_file) {
  if (name == "." || name == "..") return "the name would leave its folder";
  // A plain loop: find_first_of calls memchr once per character.
  for (char c : name) {
    if (c == '/' || c == '\\') return "the name holds a path separator";
  }
  // An empty folder name adds nothing to the path and is the usual root; an
  // empty file name would stand for the folder it is in.
  if (name.empty()) return is_file ? "a file needs a name" : nullptr;
  return platform::unusable_name_reason(name);
}

}  // namespace kelvarin
