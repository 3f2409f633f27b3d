// Loading and checking the index. Every count, link and offset read from
// the archive is checked before it sizes an allocation or indexes a table:
// the archive may come from anywhere. Memory follows what the index can
// use, not what its counts claim: offset words beyond the number of files
// and name-pool bytes no name can reach are never read.
#include "archive/archive_index.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kelvarin {
namespace {

// Records are decoded from a bounded staging buffer, so reading the index
// never holds a second copy of a large table.
constexpr std::size_t kStagingBytes = 1u << 16;

bool link_in_range(std::int32_t link, std::int32_t entry_count) {
  return link == kNoEntry || (link >= 0 && link < entry_count);
}

// An unusable index in a file of another format (a tar, a zip...) says what
// the file looks like: the likely mistake is the file, not its damage.
OtherFormat format_of(const ArchiveIndex& archive) {
  std::uint8_t bytes[kOtherFormatBytes];
  std::size_t got = 0;
  if (!archive.read_at(0, bytes, sizeof bytes, got).ok()) return OtherFormat::none;
  return other_format(bytes, got);
}

}  // namespace

// The loader's stages, in the order they run: read_header, allocate_tables,
// read_tables (entries, sizes, offsets, names), then the checks.
class ArchiveIndex::Loader {
 public:
  explicit Loader(ArchiveIndex& index) : index_(index) {}

  Error run() {
    Error error = read_header();
    if (!error.ok()) return error;
    try {
      allocate_tables();
      error = read_tables();
      if (error.ok()) error = check_reachability();
    } catch (const std::bad_alloc&) {
      return Error::out_of_memory();
    }
    return error;
  }

  // What made the index unusable, once run() has said it is.
  const IndexFault& fault() const { return fault_; }

 private:
  Error unusable(IndexFault::Kind kind, std::int64_t value, std::uint64_t bound) {
    fault_.kind = kind;
    fault_.value = value;
    fault_.bound = bound;
    return Error::of_kind(Error::Kind::unusable, {});
  }

  static Error read_failure(const Error& error) {
    if (!error.ok()) return Error(error).during(Error::Step::read);
    return Error::found(Error::Kind::ended_early, Error::Finding::index_ends_early, Error::Step::read);
  }

  // Reads `count` records of `record_size` bytes from the position reached
  // so far, handing each to `decode`.
  template <typename Decode>
  Error read_records(std::uint64_t count, std::size_t record_size, Decode decode) {
    staging_.resize(kStagingBytes / record_size * record_size);
    std::uint64_t index = 0;
    while (index < count) {
      std::uint64_t batch = std::min<std::uint64_t>(count - index, staging_.size() / record_size);
      std::size_t length = static_cast<std::size_t>(batch) * record_size;
      std::size_t got = 0;
      Error read = index_.read_at(position_, staging_.data(), length, got);
      if (!read.ok() || got != length) return read_failure(read);
      for (std::uint64_t i = 0; i < batch; ++i) {
        decode(static_cast<std::uint32_t>(index + i), staging_.data() + i * record_size);
      }
      index += batch;
      position_ += length;
    }
    return {};
  }

  Error read_header() {
    if (!index_.reader_) {
      platform::FileIdentity archive;
      Error error = platform::identify(index_.archive_, archive);
      if (!error.ok()) return read_failure(error);
      index_.archive_size_ = archive.size;
    }
    if (index_.archive_size_ < kHeaderSize) {
      return unusable(IndexFault::Kind::too_short, static_cast<std::int64_t>(index_.archive_size_), kHeaderSize);
    }
    std::uint8_t bytes[kHeaderSize];
    std::size_t got = 0;
    Error error = index_.read_at(0, bytes, sizeof bytes, got);
    if (!error.ok() || got != sizeof bytes) return read_failure(error);
    const ArchiveHeader header = decode_header(bytes);
    entry_count_ = header.entry_count;
    index_.offset_count_ = header.offset_count;
    index_.name_pool_size_ = header.name_pool_size;
    position_ = kHeaderSize;

    if (header.entry_count <= 0 || header.entry_count >= kEntryCountLimit) {
      return unusable(IndexFault::Kind::entry_count, header.entry_count, kEntryCountLimit - 1);
    }
    if (header.offset_count >= kOffsetCountLimit) {
      return unusable(IndexFault::Kind::offset_count, header.offset_count, kOffsetCountLimit);
    }
    const std::uint64_t needed = index_size(static_cast<std::uint64_t>(header.entry_count),
                                            header.offset_count, header.name_pool_size);
    if (needed > index_.archive_size_) {
      return unusable(IndexFault::Kind::index_too_large, static_cast<std::int64_t>(needed), index_.archive_size_);
    }
    return {};
  }

  void allocate_tables() {
    const auto entries = static_cast<std::size_t>(entry_count_);
    index_.node_table_.resize(entries);
    // The whole pool is read when every byte of it could be part of a name
    // the entries use; a larger one (which a sparse file makes cheap) is
    // read name by name instead.
    names_whole_ = index_.name_pool_size_ <= std::uint64_t{entries} * (kMaxNameBytes + 1);
    if (names_whole_) {
      index_.names_.resize(index_.name_pool_size_);
    } else {
      index_.name_at_.resize(entries);
    }
  }

  Error read_tables() {
    const auto entries = static_cast<std::uint32_t>(entry_count_);
    std::uint32_t files = 0;
    Error error;
    Error bad_link;
    error = read_records(entries, kEntryRecordSize, [&](std::uint32_t i, const std::uint8_t* bytes) {
      const EntryRecord entry = decode_entry(bytes);
      EntryNode& node = index_.node_table_[i];
      // A link outside the table can't be followed: the first one found,
      // in entry order, refuses the archive.
      if (bad_link.ok() && !(link_in_range(entry.next_sibling, entry_count_) &&
                             link_in_range(entry.first_child, entry_count_))) {
        const bool sibling = !link_in_range(entry.next_sibling, entry_count_);
        bad_link = unusable(IndexFault::Kind::link_outside, sibling ? entry.next_sibling : entry.first_child,
                            static_cast<std::uint64_t>(entry_count_));
        fault_.entry = i;
        fault_.link = sibling ? IndexFault::Link::next_sibling : IndexFault::Link::first_child;
      }
      node.kind = entry.first_child != kNoEntry ? NODE_DIRECTORY : NODE_FILE;
      node.next = entry.next_sibling == kNoEntry ? kNoNode : static_cast<std::uint32_t>(entry.next_sibling);
      node.child = entry.first_child == kNoEntry ? kNoNode : static_cast<std::uint32_t>(entry.first_child);
      node.name_offset = entry.name_offset;
      node.file_ordinal = files;
      if (node.kind == NODE_FILE) ++files;
    });
    if (!error.ok()) return error;
    if (!bad_link.ok()) return bad_link;

    error = read_records(entries, kSizeRecordSize, [&](std::uint32_t i, const std::uint8_t* bytes) {
      index_.node_table_[i].file_size = decode_size(bytes).file_size;
    });
    if (!error.ok()) return error;

    // No file has an ordinal past the number of files: the words beyond
    // can't be used, and are not read.
    const std::uint32_t usable_offsets = std::min(files, index_.offset_count_);
    index_.offset_table_.resize(usable_offsets);
    const std::uint64_t names_start = position_ + std::uint64_t{kOffsetWordSize} * index_.offset_count_;
    error = read_records(usable_offsets, kOffsetWordSize, [&](std::uint32_t i, const std::uint8_t* bytes) {
      index_.offset_table_[i] = load_u32(bytes);
    });
    if (!error.ok()) return error;
    return read_names(names_start);
  }

  // Reads the names and marks each entry whose name can't be used, then
  // each file whose ordinal, size or data range can't be.
  Error read_names(std::uint64_t names_start) {
    const std::uint32_t pool_size = index_.name_pool_size_;
    if (names_whole_) {
      std::size_t got = 0;
      Error read = index_.read_at(names_start, index_.names_.data(), pool_size, got);
      if (!read.ok() || got != pool_size) return read_failure(read);
    }
    std::vector<char> window(kMaxNameBytes + 1);
    for (std::uint32_t i = 0; i < index_.node_table_.size(); ++i) {
      EntryNode& node = index_.node_table_[i];
      if (node.name_offset >= pool_size) {
        node.problem = EntryProblem::name_outside_pool;
        continue;
      }
      // A name is the bytes up to a zero, within the pool and the limit.
      const std::size_t span = std::min<std::size_t>(pool_size - node.name_offset, kMaxNameBytes + 1);
      const char* name = window.data();
      if (names_whole_) {
        name = index_.names_.data() + node.name_offset;
      } else {
        std::size_t got = 0;
        Error read = index_.read_at(names_start + node.name_offset,
                                       window.data(), span, got);
        if (!read.ok() || got != span) return read_failure(read);
      }
      const char* end = static_cast<const char*>(std::memchr(name, '\0', span));
      if (end == nullptr) {
        node.problem = span == pool_size - node.name_offset ? EntryProblem::name_unterminated
                                                            : EntryProblem::name_too_long;
        continue;
      }
      if (!names_whole_) {
        index_.name_at_[i] = static_cast<std::uint32_t>(index_.names_.size());
        index_.names_.insert(index_.names_.end(), name, end + 1);
      }
      check_file(node);
    }
    return {};
  }

  void check_file(EntryNode& node) const {
    if (node.kind == NODE_DIRECTORY) return;
    if (node.file_ordinal >= index_.offset_count_) {
      node.problem = EntryProblem::ordinal_beyond_offsets;
    } else if (node.file_size < 0) {
      node.problem = EntryProblem::negative_size;
    } else if (node.file_size > 0 &&
               kelvarin::data_position(index_.offset_table_[node.file_ordinal]) +
                       static_cast<std::uint64_t>(node.file_size) >
                   index_.archive_size_) {
      // An empty file reads nothing, so where its data would lie is moot.
      node.problem = EntryProblem::data_beyond_end;
    }
  }

  // Refuses the archive when the walk from node 0 would reach a node twice
  // (a cycle, or one entry in two chains): it would never end.
  Error check_reachability() {
    const std::vector<EntryNode>& nodes = index_.node_table_;
    std::vector<bool> seen(nodes.size());
    std::vector<std::uint32_t> pending{0};
    while (!pending.empty()) {
      const std::uint32_t entry = pending.back();
      pending.pop_back();
      if (seen[entry]) {
        fault_.entry = entry;
        return unusable(IndexFault::Kind::reached_twice, 0, 0);
      }
      seen[entry] = true;
      if (nodes[entry].next != kNoNode) pending.push_back(nodes[entry].next);
      if (nodes[entry].child != kNoNode) pending.push_back(nodes[entry].child);
    }
    return {};
  }

  ArchiveIndex& index_;
  std::int32_t entry_count_ = 0;
  std::uint64_t position_ = 0;  // of the next table to read
  bool names_whole_ = true;
  std::vector<std::uint8_t> staging_;
  IndexFault fault_;
};

OpenedIndex ArchiveIndex::open(std::string path) {
  ArchiveIndex index;
  index.path_ = std::move(path);
  Error error = platform::open_archive(index.path_, index.archive_);
  if (!error.ok()) return std::move(error.on(index.path_));
  return load(std::move(index));
}

OpenedIndex ArchiveIndex::open(std::string name, std::uint64_t size, platform::ReadAt read) {
  ArchiveIndex index;
  index.path_ = std::move(name);
  index.archive_size_ = size;
  index.reader_ = std::move(read);
  return load(std::move(index));
}

OpenedIndex ArchiveIndex::load(ArchiveIndex index) {
  Loader loader(index);
  Error error = loader.run();
  if (error.is_unusable()) {
    IndexFault fault = loader.fault();
    fault.looks_like = format_of(index);
    return {std::move(error.on(index.path_)), fault};
  }
  if (!error.ok()) return std::move(error.on(index.path_));
  return index;
}

Error ArchiveIndex::read_at(std::uint64_t position, void* buffer, std::size_t length, std::size_t& got) const {
  if (reader_) return reader_(position, buffer, length, got);
  return platform::read_at(archive_, position, buffer, length, got);
}

Error ArchiveIndex::read_range(std::uint64_t position, std::uint64_t length, std::vector<char>& buffer,
                               const std::function<Error(const char* bytes, std::size_t length)>& take) const {
  if (reader_) return platform::read_range(reader_, position, length, buffer, take);
  return platform::read_range(archive_, position, length, buffer, take);
}

bool ArchiveIndex::name_readable(std::uint32_t entry) const {
  const EntryProblem problem = node(entry).problem;
  return problem != EntryProblem::name_outside_pool && problem != EntryProblem::name_unterminated &&
         problem != EntryProblem::name_too_long;
}

std::string_view ArchiveIndex::name(std::uint32_t entry) const {
  return std::string_view(names_.data() + (name_at_.empty() ? node(entry).name_offset : name_at_[entry]));
}

std::optional<std::uint64_t> ArchiveIndex::data_position(std::uint32_t entry) const {
  const EntryNode& file = node(entry);
  if (file.kind == NODE_DIRECTORY || file.file_ordinal >= offset_table_.size()) return std::nullopt;
  return kelvarin::data_position(offset_table_[file.file_ordinal]);
}

}  // namespace kelvarin
