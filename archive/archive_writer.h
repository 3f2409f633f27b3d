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

// One folder or file to store, a tree of them made in memory (tests'
// fixtures). A file's bytes are `bytes`; one with `disk_file` set has `size`
// bytes held elsewhere, and is only laid out, never written.
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

// A tree to store, as the writer reads it: one folder's children at a
// time, by number, so that a tree of a million entries need not be made of
// a million objects.
class SourceTree {
 public:
  struct Node {
    std::string_view name;
    bool is_folder = false;
    std::uint64_t size = 0;  // a file's
    std::size_t id = 0;      // a folder's for next_child, a file's for file_size, bytes and TreeFiles
  };
  // Where next_child goes on from; zero before the first child.
  struct Cursor {
    std::size_t at = 0;
    std::size_t aside = 0;  // the tree's own
  };
  virtual ~SourceTree() = default;
  // The folder whose children are the top level: the root, then its
  // sibling chain.
  virtual std::size_t top_level() const = 0;
  // The child of `folder` at `cursor` into `node`, and the cursor moved
  // past it; false after the last.
  virtual bool next_child(std::size_t folder, Cursor& cursor, Node& node) const = 0;
  virtual std::uint64_t file_size(std::size_t file) const = 0;
  // A file's bytes where the tree holds them; null where TreeFiles read them.
  virtual const std::string* bytes(std::size_t /*file*/) const { return nullptr; }
};

// Where the bytes of a SourceTree's files on disk come from, by the
// numbers the tree gave them.
class TreeFiles {
 public:
  virtual ~TreeFiles() = default;
  // Opens the file, to read its bytes from start().
  virtual Error open(std::size_t file, platform::FileHandle& handle) = 0;
  // Where those bytes begin in what open() gives: 0 for a file of its own.
  virtual std::uint64_t start(std::size_t /*file*/) const { return 0; }
  // The file will be read soon: its bytes may be asked of the disk now,
  // while others are read.
  virtual void read_ahead(std::size_t /*file*/) {}
  // The file's path, for messages.
  virtual std::string path_of(std::size_t file) const = 0;
};

// The same for a tree of SourceNodes, by the nodes of its files.
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

// The files of a layout of SourceNodes, by the numbers lay_out gave them
// (their nodes' addresses), read through the FileSource of those nodes.
// Only for such a layout.
class NodeFiles final : public TreeFiles {
 public:
  explicit NodeFiles(FileSource& files) : files_(files) {}
  Error open(std::size_t file, platform::FileHandle& handle) override { return files_.open(node(file), handle); }
  void read_ahead(std::size_t file) override { files_.read_ahead(node(file)); }
  std::uint64_t start(std::size_t file) const override { return files_.start(node(file)); }
  std::string path_of(std::size_t file) const override { return files_.path_of(node(file)); }

 private:
  static const SourceNode& node(std::size_t file) { return *reinterpret_cast<const SourceNode*>(file); }
  FileSource& files_;
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
  std::size_t file = 0;  // the tree's number of it
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
  const SourceTree* tree = nullptr;  // what the data's file numbers are of
};

// The number lay_out gives a file of a SourceNode tree: its node's address.
std::size_t file_number(const SourceNode& node);

// Lays out `tree` (the first of its top level as the root, entry 0, and
// the rest as the root's sibling chain), or says why it can't be stored.
// The layout points into `tree`, which must outlive it.
Result<ArchiveLayout> lay_out(const SourceTree& tree, const WriterOptions& options = {});
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

// Writes the layout through `sink` in file order, the bytes of files the
// tree doesn't hold read through `files` (of a layout of SourceNodes). Fails when `sink` does, or when a file can't
// be read as laid out (it may have changed since). A file that changed as
// it was read, keeping its size, is read once more where `rewind` is
// given, and fails when it changes again.
Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, FileSource* files = nullptr,
                    const ArchiveRewind& rewind = {});
// The same for a layout of any SourceTree, its files read through `files`.
Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, TreeFiles& files,
                    const ArchiveRewind& rewind = {});

// The layout as one byte string (tests' fixtures).
std::string archive_bytes(const ArchiveLayout& layout);

}  // namespace kelvarin
