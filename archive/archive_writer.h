// Building .brq archives from a tree of folders and files. Output is
// deterministic: the same tree and options give the same bytes. The layout
// is produced first and can be edited before it is written, which is how
// tests forge damaged archives.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "platform/files.h"

namespace kelvarin {

inline constexpr std::size_t kInMemory = std::numeric_limits<std::size_t>::max();

// One folder or file to store. A file's bytes are `bytes`, or, when
// `disk_file` is set, the `size` bytes a FileSource opens by that number.
struct SourceNode {
  std::string name;
  bool is_folder = false;
  std::string bytes;
  std::size_t disk_file = kInMemory;
  std::uint64_t size = 0;
  std::vector<SourceNode> children;
};

SourceNode source_folder(std::string name, std::vector<SourceNode> children = {});
SourceNode source_file(std::string name, std::string bytes);

// Where the bytes of files on disk come from.
class FileSource {
 public:
  virtual ~FileSource() = default;
  // Opens the file `node` stands for, to read its `size` bytes from start().
  virtual Error open(const SourceNode& node, platform::FileHandle& file) = 0;
  // Where those bytes begin in what open() gives: 0 for a file of its own,
  // elsewhere for a file that lies inside another (an archive's).
  virtual std::uint64_t start(const SourceNode& /*node*/) const { return 0; }
  // The file `node` stands for will be read soon: its bytes may be asked
  // of the disk now, while others are read.
  virtual void read_ahead(const SourceNode& /*node*/) {}
  // The file's path, for messages.
  virtual std::string path_of(const SourceNode& node) const = 0;
};

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
};

// Lays out `top_level[0]` as the root (entry 0) and the rest as the root's
// sibling chain, or says why the tree can't be stored. The layout points
// into `top_level`, which must outlive it.
Result<ArchiveLayout> lay_out(const std::vector<SourceNode>& top_level, const WriterOptions& options = {});
// The layout would point into a tree that is gone by the time it is written.
Result<ArchiveLayout> lay_out(std::vector<SourceNode>&& top_level, const WriterOptions& options = {}) = delete;

// Takes the archive's bytes in file order, one piece at a time.
using ArchiveSink = std::function<Error(const char* bytes, std::size_t length)>;

// Takes the sink back to `position` in the archive: the bytes from there
// on are given again.
using ArchiveRewind = std::function<Error(std::uint64_t position)>;

// Writes the layout through `sink` in file order, the bytes of files on
// disk read through `files`. Fails when `sink` does, or when a file can't
// be read as laid out (it may have changed since). A file that changed as
// it was read, keeping its size, is read once more where `rewind` is
// given, and fails when it changes again.
Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, FileSource* files = nullptr,
                    const ArchiveRewind& rewind = {});

// The layout as one byte string (tests' fixtures).
std::string archive_bytes(const ArchiveLayout& layout);

}  // namespace kelvarin
