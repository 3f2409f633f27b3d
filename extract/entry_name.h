// What may stand on disk: the one check every entry passes before it
// becomes a file or folder, and the names the program keeps for its own
// unfinished output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/tree_walk.h"

namespace kelvarin {

// A folder inside more folders than this is refused, with all it holds.
// Each folder on the way down is held open while its contents are written,
// and this keeps the run well within the usual limit of 1,024 open files;
// it is far beyond any real tree (Linux resolves paths of at most 4,096
// bytes).
inline constexpr std::uint32_t kMaxFolderDepth = 512;

// A temporary name: ".kelvarin-", 16 hex digits of a hash of the final
// name, then ".part" (a file) or ".partdir" (a folder). It is fixed for
// each final name, so the next run that writes the same file or folder
// finds and removes what a killed run left under it. Short whatever the
// length of the final name; ASCII, the same in every path form.
class TemporaryName {
 public:
  TemporaryName(std::string_view final_name, bool folder);
  std::string_view text() const { return {text_, length_}; }

 private:
  char text_[40];
  std::size_t length_;
};

// Whether `name` has the form of a temporary name (in any case, as file
// systems that ignore case would take it).
bool is_temporary_name(std::string_view name);

// Why `name` can't be one component of an output path, or nullptr when it
// can. `.`, `..` and names holding a separator would leave their folder; an
// empty file name would name the folder itself; a temporary name would be
// taken for a leftover and removed.
const char* unsafe_name_reason(std::string_view name, bool is_file);

// Whether a folder the walk enters stands for the folder holding it: an
// empty name adds nothing to the path, so what it holds goes where it
// stands (the usual root's contents into the destination itself).
inline bool folds_into_parent(const EntryVisit& folder) { return folder.name.empty(); }

// Whether the extraction takes the entry the walk meets at `visit`, or why
// it refuses it (and, for a folder, all it holds): its name can't be read
// or used, the index marks it damaged, or it lies too deep.
Error check_entry(const ArchiveIndex& index, const EntryVisit& visit);

}  // namespace kelvarin
