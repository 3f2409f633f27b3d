// The state of one run: the open archive, its index in memory, the
// destination folder and how the run is going. Owned by run_extract and
// passed by reference to the index loader and the walk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "platform/platform.h"

namespace kelvarin {

struct ExtractState {
  platform::FileHandle archive;
  std::string archive_path;  // as typed
  std::uint64_t archive_size = 0;

  // Header words 2, 3 and 4, as stored.
  std::int32_t entry_count = 0;
  std::uint32_t offset_count = 0;
  std::uint32_t name_pool_size = 0;

  std::vector<EntryRecord> entry_table;
  std::vector<EntryNode> node_table;
  std::vector<SizeRecord> size_table;
  std::vector<std::uint32_t> offset_table;
  std::vector<char> name_pool;

  std::string dest_folder;  // as typed
  platform::NativeString dest_folder_native;

  // The one copy buffer of the run, grown on first use and reused by every
  // file whose bytes can't be copied in the kernel.
  std::vector<char> copy_buffer;

  // The output paths of the file being written (its temporary and its final
  // name), reused by every file so that composing them takes no memory once
  // they have grown.
  platform::NativeString temp_path;
  platform::NativeString final_path;

  std::FILE* out = stdout;
  bool had_failure = false;  // an entry was refused or failed

  // Nodes the walk visits, by node index; empty means every node. Another
  // front end fills it to extract part of the tree: the chosen entries,
  // their subtrees and the folders on the way to them.
  std::vector<std::uint8_t> visit_mask;

  // Another front end's own reporting. Unset, a file's line and each
  // "ERROR: " line go to `out` as Kelvarin_Extract prints them.
  std::function<void(std::string_view dir_path, std::string_view name, std::int32_t size)>
      on_file;
  std::function<void(std::string_view error_line)> on_error;
};

// The entry's name as stored in the pool. Only for entries whose name passed
// the index checks (problem none or a file-data problem).
inline std::string_view entry_name(const ExtractState& state, const EntryNode& node) {
  return std::string_view(state.name_pool.data() + node.name_offset);
}

}  // namespace kelvarin
