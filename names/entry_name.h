// What may stand on disk: the check every name passes before it becomes a
// file or folder, the limits of a path, and the names the program keeps
// for its own unfinished output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelvarin {

// A folder inside more folders than this is refused, with all it holds.
// Each folder on the way down is held open while its contents are written,
// and this keeps the run well within the usual limit of 1,024 open files;
// it is far beyond any real tree.
inline constexpr std::uint32_t kMaxFolderDepth = 512;

// An entry whose path inside the archive is longer than this (in bytes, as
// the extraction prints it) is refused, with all it holds: Linux resolves
// no longer path (PATH_MAX), and the game's own OS holds far shorter ones.
// With the depth limit it keeps every path, and so every line and every
// walk, bounded whatever the archive.
inline constexpr std::size_t kMaxPathBytes = 4096;

// Why a name can't be one component of an output path.
enum class NameProblem : std::uint8_t {
  none,
  leaves_folder,      // "." or "..": it would leave its folder
  separator,          // '/' or '\'
  control_character,  // C0 controls and DEL: a line end in a name forges output lines
  no_file_name,       // an empty file name would stand for its folder
  temporary_name,     // the form of the program's own temporary names
  // Names Windows can't hold as they are.
  windows_stream,      // ':', a drive or a stream
  windows_character,   // < > " | ? *
  windows_device,      // CON, NUL, COM1... with any extension, in any case
  windows_end,         // a dot or space at the end, which Windows drops
};

// Why `name` can't be one component of an output path on this OS, or
// NameProblem::none. `.`, `..` and names holding a separator would leave
// their folder; an empty file name would name the folder itself; a
// temporary name would be taken for a leftover and removed; on Windows
// the names it can't hold.
NameProblem name_problem(std::string_view name, bool is_file);

// Why Windows can't hold `name` as it is, or NameProblem::none; on every
// OS, for what is made to be used on Windows.
NameProblem windows_name_problem(std::string_view name);

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

}  // namespace kelvarin
