// An archive's index in memory: opened, read and checked by one call, and
// read-only afterwards. It owns the archive's handle and answers, for every
// entry, its links, name, kind, size, data position and problem.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "platform/files.h"

namespace kelvarin {

inline constexpr std::uint32_t NODE_DIRECTORY = 0xD0000001u;
inline constexpr std::uint32_t NODE_FILE = 0xC0000001u;

// Why a single entry can't be extracted although the archive as a whole is
// sound. Found while the index is checked, reported where the entry is met.
enum class EntryProblem : std::uint8_t {
  none,
  name_outside_pool,
  name_unterminated,
  name_too_long,
  ordinal_beyond_offsets,
  negative_size,
  data_beyond_end,
};

// Why an index can't be used at all: which fault, and the numbers it is
// about. Found while the index is loaded; the front ends word it.
struct IndexFault {
  enum class Kind : std::uint8_t {
    none,
    too_short,        // `value` bytes, fewer than the `bound` of the header
    entry_count,      // the entry count `value` is outside 1 to `bound`
    offset_count,     // the offset count `value` is `bound` or more
    index_too_large,  // the index needs `value` bytes, the archive has `bound`
    link_outside,     // `entry` links to `value` as its `link`, outside `bound` entries
    reached_twice,    // the walk from the root reaches `entry` twice
  };
  enum class Link : std::uint8_t { next_sibling, first_child };

  Kind kind = Kind::none;
  std::int64_t value = 0;
  std::uint64_t bound = 0;
  std::uint32_t entry = 0;
  Link link = Link::next_sibling;
  // What the file looks like instead, where it looks like something.
  OtherFormat looks_like = OtherFormat::none;
};

// One entry of the tree. Nodes are addressed by their entry's index; a
// link of 0 means none, since entry 0 is the root.
struct EntryNode {
  std::uint32_t kind = NODE_FILE;
  std::uint32_t next = kNoNode;
  std::uint32_t child = kNoNode;
  std::uint32_t name_offset = 0;  // as stored
  // Number of file entries before this one in entry order: the index of
  // its word in the offset table. Meaningful for files only.
  std::uint32_t file_ordinal = 0;
  std::int32_t file_size = 0;  // as stored; meaningful for files only
  EntryProblem problem = EntryProblem::none;
};

class ArchiveIndex;

// The index opened, or the Error that kept it from being opened; where
// that is an unusable index (Error::is_unusable), the fault found in it.
class OpenedIndex;

class ArchiveIndex {
 public:
  // Opens the archive at `path` (UTF-8, kept as typed) and loads and
  // checks its index; a failure names `path`. A failure to open has
  // Step::open, one to read the index Step::read. An index that can't be
  // used is Error::is_unusable, with its IndexFault. Counts are checked
  // against the archive's real size before anything is allocated for them.
  static OpenedIndex open(std::string path);
  // The same for an archive of `size` bytes read through `read` (`got`
  // short only at its end), named `name` in failures. The archive()
  // handle is then closed: reads go through read_at and read_range.
  static OpenedIndex open(std::string name, std::uint64_t size, platform::ReadAt read);

  const std::string& path() const { return path_; }
  const platform::FileHandle& archive() const { return archive_; }
  // Reads of the archive, from its file or through its reader.
  Error read_at(std::uint64_t position, void* buffer, std::size_t length, std::size_t& got) const;
  Error read_range(std::uint64_t position, std::uint64_t length, std::vector<char>& buffer,
                   const std::function<Error(const char* bytes, std::size_t length)>& take) const;
  // Whether the archive is read through a reader rather than its own file.
  bool has_reader() const { return static_cast<bool>(reader_); }
  // Closes the archive once nothing more is read of it: Windows replaces
  // no file held open.
  void let_go() { archive_.close(); }
  // Header word 2, as stored.
  std::uint32_t entry_count() const { return static_cast<std::uint32_t>(node_table_.size()); }
  // Where the index ends and file data may begin.
  std::uint64_t index_end() const {
    return index_size(entry_count(), offset_count_, name_pool_size_);
  }

  const EntryNode& node(std::uint32_t entry) const { return node_table_[entry]; }
  bool is_folder(std::uint32_t entry) const { return node(entry).kind == NODE_DIRECTORY; }
  // Whether the entry's name can be read from the pool at all.
  bool name_readable(std::uint32_t entry) const;
  // The entry's name as stored. Only for entries whose name is readable.
  std::string_view name(std::uint32_t entry) const;
  // A file's first byte, where the offset table names it.
  std::optional<std::uint64_t> data_position(std::uint32_t entry) const;
  // What problems are measured against.
  std::uint32_t offset_count() const { return offset_count_; }
  std::uint32_t name_pool_size() const { return name_pool_size_; }
  std::uint64_t archive_size() const { return archive_size_; }
  // Calls `visit` for each entry below `entry` (its contents, all the way
  // down) and returns how many there are.
  template <typename Visit>
  std::uint64_t each_inside(std::uint32_t entry, const Visit& visit) const {
    std::uint64_t count = 0;
    std::vector<std::uint32_t> pending;
    if (node(entry).child != kNoNode) pending.push_back(node(entry).child);
    while (!pending.empty()) {
      const std::uint32_t inside = pending.back();
      pending.pop_back();
      ++count;
      visit(inside);
      if (node(inside).next != kNoNode) pending.push_back(node(inside).next);
      if (node(inside).child != kNoNode) pending.push_back(node(inside).child);
    }
    return count;
  }
  std::uint64_t count_inside(std::uint32_t entry) const {
    return each_inside(entry, [](std::uint32_t) {});
  }
  // The memory the index's tables take.
  std::size_t table_bytes() const {
    return node_table_.capacity() * sizeof(EntryNode) + offset_table_.capacity() * 4 +
           names_.capacity() + name_at_.capacity() * 4;
  }

 private:
  class Loader;
  ArchiveIndex() = default;
  static OpenedIndex load(ArchiveIndex index);

  std::string path_;
  platform::FileHandle archive_;
  platform::ReadAt reader_;
  std::uint64_t archive_size_ = 0;
  std::uint32_t offset_count_ = 0;
  std::uint32_t name_pool_size_ = 0;
  std::vector<EntryNode> node_table_;
  // Offset-table words, only those a file can use: one per file at most.
  std::vector<std::uint32_t> offset_table_;
  // The names. Either the whole pool, when every byte of it can be a name,
  // or only the names the entries use, at name_at_ of each entry.
  std::vector<char> names_;
  std::vector<std::uint32_t> name_at_;
};

class OpenedIndex : public Result<ArchiveIndex> {
 public:
  using Result<ArchiveIndex>::Result;
  OpenedIndex(Error error, const IndexFault& fault) : Result<ArchiveIndex>(std::move(error)), fault_(fault) {}
  const IndexFault& fault() const { return fault_; }

 private:
  IndexFault fault_;
};

}  // namespace kelvarin
