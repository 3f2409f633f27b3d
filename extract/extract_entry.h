// Writing one file entry of the archive to disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/extract_state.h"

namespace kelvarin {

// A folder of the output tree as the walk holds it while its files are
// written.
struct FolderContext {
  std::string_view dir_path;               // relative path, archive form, for printing
  const platform::NativeString& native;   // the folder on disk; ends with a separator
  std::string_view dest_shown;             // the destination as printed in errors
  bool usable;                             // it exists as a real folder
  bool fresh = false;                      // made by this run under a temporary name
};

// The name a file is written under before it is complete. It is fixed for
// each final name, so a run killed half-way leaves a file that the next run
// writing the same entry overwrites and renames away.
std::string temporary_name(std::string_view name);

// The name a new folder is filled under, beside where it belongs, until
// everything in it is written; fixed for each final name in the same way.
std::string temporary_folder_name(std::string_view name);

// Prints the file's line, then writes its bytes and gives them `name` once
// every byte is there: in a fresh folder, where nobody sees the name before
// the folder is complete, a free name is written directly; elsewhere the
// file is unnamed or under a temporary name until then. Returns
// 1 when the file is complete, -1 when it failed (reported, nothing left
// under its name but what was there before).
int extract_entry(ExtractState& state, const EntryNode& node, std::string_view name,
                  const FolderContext& folder);

}  // namespace kelvarin
