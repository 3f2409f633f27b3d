// Building .brq archives from a tree of folders and files. Output is
// deterministic: the same tree and options give the same bytes. The layout
// is produced first and can be edited before it is written, which is how
// tests forge damaged archives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_format.h"

namespace kelvarin {

// One folder or file to store. A file's bytes are `bytes`, or, when
// `source_path` is set, the `size` bytes of that file on disk.
struct SourceNode {
  std::string name;
  bool is_folder = false;
  std::string bytes;
  std::filesystem::path source_path;
  std::uint64_t size = 0;
  std::vector<SourceNode> children;
};

SourceNode source_folder(std::string name, std::vector<SourceNode> children = {});
SourceNode source_file(std::string name, std::string bytes);

// A folder on disk as a tree: the root's name is empty, each folder's
// entries are sorted bytewise by name, file bytes stay on disk. Only
// folders and regular files can be stored: a link (not followed, it may
// lead anywhere), a device or anything that can't be read is left out and
// named in `problems`, one message each.
SourceNode source_tree_from_folder(const std::filesystem::path& folder,
                                   std::vector<std::string>& problems);
// As above; throws std::runtime_error with the first problem.
SourceNode source_tree_from_folder(const std::filesystem::path& folder);

enum class EntryOrder { depth_first, breadth_first };
enum class DataOrder { entry_order, reverse_entry_order };

struct WriterOptions {
  EntryOrder entry_order = EntryOrder::depth_first;
  DataOrder data_order = DataOrder::entry_order;
};

// A file's bytes placed in the archive.
struct PlacedData {
  std::uint64_t position = 0;
  const SourceNode* source = nullptr;
};

// Everything an archive holds, as it will be written. Header and tables are
// written as they stand here, so a test may set any field to anything.
struct ArchiveLayout {
  ArchiveHeader header;
  std::vector<EntryRecord> entries;
  std::vector<SizeRecord> sizes;
  std::vector<std::uint32_t> offsets;
  std::string name_pool;
  std::vector<PlacedData> data;  // in the order they lie in the archive
  std::uint64_t total_size = 0;
  std::string error;  // why the tree can't be stored; empty when it can
};

// Lays out `top_level[0]` as the root (entry 0) and the rest as the root's
// sibling chain. The layout points into `top_level`, which must outlive it.
ArchiveLayout lay_out(const std::vector<SourceNode>& top_level, const WriterOptions& options = {});
// The layout would point into a tree that is gone by the time it is written.
ArchiveLayout lay_out(std::vector<SourceNode>&& top_level, const WriterOptions& options = {}) = delete;

// Writes the layout through `sink` in file order. False with `error` set
// when a source file can't be read as laid out.
bool write_archive(const ArchiveLayout& layout,
                   const std::function<bool(const char*, std::size_t)>& sink, std::string& error);

// The layout as one byte string (tests' fixtures).
std::string archive_bytes(const ArchiveLayout& layout);

// The layout written to a file. False with `error` set on failure.
bool write_archive_file(const ArchiveLayout& layout, const std::filesystem::path& path,
                        std::string& error);

}  // namespace kelvarin
