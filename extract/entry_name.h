// The one check every name passes before it becomes part of a path on disk.
#pragma once

#include <string_view>

namespace kelvarin {

// Why `name` can't be used as one component of an output path, or nullptr
// when it can. `.`, `..` and names holding a separator would leave their
// folder; an empty file name would name the folder itself.
const char* unsafe_name_reason(std::string_view name, bool is_file);

}  // namespace kelvarin
