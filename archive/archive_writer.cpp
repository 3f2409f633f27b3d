// The archive writer: lays a tree out as entries, names and data, then
// writes it in file order.
#include "archive/archive_writer.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <unordered_map>

namespace kelvarin {
namespace {

// How far reading ahead goes: enough files for the disk to work on many at
// once, not so many bytes that they push each other out of the cache.
constexpr std::size_t kFilesAhead = 32;
constexpr std::uint64_t kBytesAhead = std::uint64_t{64} << 20;
// The tables are encoded into blocks of this size on their way out.
constexpr std::size_t kTableBlock = 1u << 16;

std::uint64_t align_up(std::uint64_t value) {
  return (value + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
}

std::uint64_t size_of(const SourceNode& node) {
  return node.disk_file == kInMemory ? node.bytes.size() : node.size;
}

// A tree of SourceNodes as the writer reads it: a folder's number is the
// address of its children, a file's the address of its node.
class SourceNodes final : public SourceTree {
 public:
  explicit SourceNodes(const std::vector<SourceNode>* top_level) : top_level_(top_level) {}
  std::size_t top_level() const override { return reinterpret_cast<std::size_t>(top_level_); }
  bool next_child(std::size_t folder, Cursor& cursor, Node& node) const override {
    const auto& children = *reinterpret_cast<const std::vector<SourceNode>*>(folder);
    if (cursor.at == children.size()) return false;
    const SourceNode& child = children[cursor.at++];
    node = {child.name, child.is_folder, size_of(child),
            child.is_folder ? reinterpret_cast<std::size_t>(&child.children) : file_number(child)};
    return true;
  }
  std::uint64_t file_size(std::size_t file) const override {
    return size_of(*reinterpret_cast<const SourceNode*>(file));
  }
  const std::string* bytes(std::size_t file) const override {
    const auto& node = *reinterpret_cast<const SourceNode*>(file);
    return node.disk_file == kInMemory ? &node.bytes : nullptr;
  }

 private:
  const std::vector<SourceNode>* top_level_;
};

// What a layout of SourceNodes reads its files' sizes and bytes through,
// which needs no top level: it outlives every layout.
const SourceNodes kSourceNodes(nullptr);

// Calls `visit(node, index)` for each node of `tree` in the order they
// become entries, and links each to its first child and next sibling in
// `entries` (where given) as it goes, so that no table from nodes to
// numbers is needed: depth first, a folder's first child comes right after
// it and a node's next sibling once all below it is numbered; breadth
// first, a folder's children are numbered together. Returns how many
// there are.
template <typename Visit>
std::size_t number_entries(const SourceTree& tree, EntryOrder order, std::vector<EntryRecord>* entries,
                           Visit visit) {
  std::size_t count = 0;
  auto number = [&](const SourceTree::Node& node) {
    const auto index = static_cast<std::int32_t>(count++);
    if (entries != nullptr) {
      entries->resize(count);
      if (node.is_folder) (*entries)[index].first_child = 0;  // a folder with nothing in it
    }
    visit(node, index);
    return index;
  };
  auto link = [&](std::int32_t from, bool first_child, std::int32_t to) {
    if (entries != nullptr) (first_child ? (*entries)[from].first_child : (*entries)[from].next_sibling) = to;
  };
  SourceTree::Node node;
  if (order == EntryOrder::depth_first) {
    // A folder being numbered, and the last numbered in it (the folder
    // itself, before its first child).
    struct Frame {
      std::size_t folder;
      SourceTree::Cursor cursor;
      std::int32_t last;
      bool first;
    };
    std::vector<Frame> frames{{tree.top_level(), {}, kNoEntry, true}};
    while (!frames.empty()) {
      Frame& frame = frames.back();
      if (!tree.next_child(frame.folder, frame.cursor, node)) {
        frames.pop_back();
        continue;
      }
      const std::int32_t index = number(node);
      if (frame.last != kNoEntry) link(frame.last, frame.first, index);
      frame.last = index;
      frame.first = false;
      if (node.is_folder) frames.push_back({node.id, {}, index, true});
    }
    return count;
  }
  std::deque<std::pair<std::size_t, std::int32_t>> queue{{tree.top_level(), kNoEntry}};  // a folder, its number
  while (!queue.empty()) {
    const auto [folder, folder_index] = queue.front();
    queue.pop_front();
    std::int32_t last = kNoEntry;
    for (SourceTree::Cursor cursor; tree.next_child(folder, cursor, node);) {
      const std::int32_t index = number(node);
      if (last != kNoEntry) link(last, false, index);
      if (last == kNoEntry && folder_index != kNoEntry) link(folder_index, true, index);
      last = index;
      if (node.is_folder) queue.emplace_back(node.id, index);
    }
  }
  return count;
}

// Hands the bytes of the file `placed` stands for to `sink`, then checks
// that the file did not change meanwhile: rewritten in place, a file keeps
// its number and size and only its times tell that what was read may mix
// two versions, a state never on disk. Read again once, the file is stored
// whole; if it changes again it is not stored at all.
Error copy_file(const PlacedData& placed, std::uint64_t size, TreeFiles& files, const ArchiveSink& sink,
                const ArchiveRewind& rewind, std::vector<char>& chunk) {
  platform::FileHandle file;
  Error error = files.open(placed.file, file);
  if (!error.ok()) return error;
  platform::FileIdentity before, after;
  error = platform::identify(file, before);
  for (bool again = static_cast<bool>(rewind); error.ok(); again = false) {
    Error sunk;
    error = platform::read_range(file, files.start(placed.file), size, chunk, [&](const char* bytes, std::size_t length) {
      sunk = sink(bytes, length);
      return sunk;
    });
    if (!sunk.ok()) return sunk;
    if (error.is_ended_early()) {
      error = Error::because("it shrank below its " + std::to_string(size) + " bytes while it was read");
    }
    if (error.ok()) error = platform::identify(file, after);
    if (!error.ok() || after.unchanged_since(before)) break;
    // Its place in the archive is fixed, and so is its size.
    if (after.size != before.size || !again) {
      error = Error::because(after.size != before.size ? "its size changed as it was read"
                             : rewind ? "it changed as it was read, and again when read once more"
                                      : "it changed as it was read");
      break;
    }
    Error back = rewind(placed.position);
    if (!back.ok()) return back;
    before = after;
  }
  // Not the archive's failure: the file's, named by its path.
  if (!error.ok()) error.during(Error::Step::read).on(files.path_of(placed.file));
  return error;
}

}  // namespace

SourceNode source_folder(std::string name, std::vector<SourceNode> children) {
  SourceNode node;
  node.name = std::move(name);
  node.is_folder = true;
  node.children = std::move(children);
  return node;
}

SourceNode source_file(std::string name, std::string bytes) {
  SourceNode node;
  node.name = std::move(name);
  node.bytes = std::move(bytes);
  return node;
}

std::size_t file_number(const SourceNode& node) { return reinterpret_cast<std::size_t>(&node); }

Result<ArchiveLayout> lay_out(const std::vector<SourceNode>& top_level, const WriterOptions& options) {
  if (top_level.empty()) return Error::because("an archive needs at least one entry");
  Result<ArchiveLayout> layout = lay_out(SourceNodes(&top_level), options);
  if (layout.ok()) layout.value().tree = &kSourceNodes;
  return layout;
}

Result<ArchiveLayout> lay_out(const SourceTree& tree, const WriterOptions& options) {
  // Counted first, so that each table is made at its size at once.
  std::size_t counted = 0, counted_files = 0, counted_names = 0;
  number_entries(tree, options.entry_order, nullptr, [&](const SourceTree::Node& node, std::int32_t) {
    ++counted;
    counted_names += node.name.size() + 1;
    if (!node.is_folder) ++counted_files;
  });
  if (counted == 0) return Error::because("an archive needs at least one entry");
  if (static_cast<std::int64_t>(counted) >= kEntryCountLimit) {
    return Error::because("too many entries: " + std::to_string(counted));
  }
  if (counted_names > std::numeric_limits<std::uint32_t>::max()) {
    return Error::because("the names take more than 4 GiB");
  }
  ArchiveLayout layout;
  layout.tree = &tree;
  layout.entries.reserve(counted);
  layout.sizes.resize(counted);
  layout.name_pool.reserve(counted_names);
  layout.data.reserve(counted_files);
  Error refused;
  number_entries(tree, options.entry_order, &layout.entries, [&](const SourceTree::Node& node, std::int32_t index) {
    if (node.name.find('\0') != std::string::npos) refused = Error::because("a name holds a zero byte");
    layout.entries[index].name_offset = static_cast<std::uint32_t>(layout.name_pool.size());
    layout.name_pool += node.name;
    layout.name_pool += '\0';
    if (node.is_folder) return;
    if (node.size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      refused = Error::because("file " + std::string(node.name) + " is 2 GiB or larger, more than an archive can hold");
    }
    layout.sizes[index].file_size = static_cast<std::int32_t>(node.size);
    layout.data.push_back({0, node.id});
  });
  if (!refused.ok()) return refused;

  const std::size_t files = layout.data.size();
  layout.header.entry_count = static_cast<std::int32_t>(counted);
  layout.header.offset_count = static_cast<std::uint32_t>(files);
  layout.header.name_pool_size = static_cast<std::uint32_t>(layout.name_pool.size());

  layout.offsets.resize(files);
  if (options.data_order == DataOrder::reverse_entry_order) std::reverse(layout.data.begin(), layout.data.end());
  std::uint64_t cursor = index_size(counted, files, layout.name_pool.size());
  layout.total_size = cursor;
  for (std::size_t k = 0; k < files; ++k) {
    const std::size_t ordinal = options.data_order == DataOrder::reverse_entry_order ? files - 1 - k : k;
    PlacedData& placed = layout.data[k];
    placed.position = align_up(cursor);
    if (placed.position / kDataAlignment > std::numeric_limits<std::uint32_t>::max()) {
      return Error::because("the data reach beyond 64 GiB, which the offset table can't name");
    }
    layout.offsets[ordinal] = static_cast<std::uint32_t>(placed.position / kDataAlignment);
    cursor = placed.position + tree.file_size(placed.file);
    layout.total_size = std::max(layout.total_size, cursor);
  }
  return layout;
}

namespace {

Error write_tables_and_data(const ArchiveLayout& layout, const ArchiveSink& sink, TreeFiles* files,
                            const ArchiveRewind& rewind);

}  // namespace

Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, FileSource* files,
                    const ArchiveRewind& rewind) {
  // Its file numbers are nodes' addresses only in a layout of SourceNodes.
  if (files != nullptr && layout.tree != &kSourceNodes) {
    return Error::because("files by their nodes for a tree not made of SourceNodes");
  }
  if (files == nullptr) return write_tables_and_data(layout, sink, nullptr, rewind);
  NodeFiles nodes(*files);
  return write_tables_and_data(layout, sink, &nodes, rewind);
}

Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, TreeFiles& files,
                    const ArchiveRewind& rewind) {
  return write_tables_and_data(layout, sink, &files, rewind);
}

namespace {

Error write_tables_and_data(const ArchiveLayout& layout, const ArchiveSink& sink, TreeFiles* files,
                            const ArchiveRewind& rewind) {
  // The tables go out a block at a time, not encoded whole beside the layout.
  std::vector<std::uint8_t> block(kTableBlock);
  std::size_t used = 0;
  Error error;
  auto put = [&](std::size_t size, auto encode) {
    if (used + size > block.size()) {
      if (error.ok()) error = sink(reinterpret_cast<const char*>(block.data()), used);
      used = 0;
    }
    encode(block.data() + used);
    used += size;
  };
  put(kHeaderSize, [&](std::uint8_t* at) { encode_header(layout.header, at); });
  for (const EntryRecord& entry : layout.entries) {
    put(kEntryRecordSize, [&](std::uint8_t* at) { encode_entry(entry, at); });
  }
  for (const SizeRecord& size : layout.sizes) {
    put(kSizeRecordSize, [&](std::uint8_t* at) { encode_size(size, at); });
  }
  for (std::uint32_t offset : layout.offsets) {
    put(kOffsetWordSize, [&](std::uint8_t* at) { store_u32(at, offset); });
  }
  if (error.ok()) error = sink(reinterpret_cast<const char*>(block.data()), used);
  if (error.ok()) error = sink(layout.name_pool.data(), layout.name_pool.size());
  const std::uint64_t tables = kHeaderSize + layout.entries.size() * kEntryRecordSize +
                               layout.sizes.size() * kSizeRecordSize + layout.offsets.size() * kOffsetWordSize;
  std::uint64_t written = tables + layout.name_pool.size();
  static const std::string kZeros(kDataAlignment, '\0');
  std::vector<char> chunk;
  // The files read next are asked for ahead, so that the disk works on
  // several at once instead of one after the other.
  std::size_t ahead = 0;
  std::uint64_t bytes_ahead = 0;
  for (std::size_t i = 0; i < layout.data.size(); ++i) {
    if (!error.ok()) return error;
    const PlacedData& placed = layout.data[i];
    for (; files != nullptr && ahead < layout.data.size() && ahead < i + kFilesAhead && bytes_ahead < kBytesAhead;
         ++ahead) {
      const std::size_t next = layout.data[ahead].file;
      if (layout.tree->bytes(next) != nullptr) continue;
      files->read_ahead(next);
      bytes_ahead += layout.tree->file_size(next);
    }
    const std::uint64_t size = layout.tree->file_size(placed.file);
    const std::string* bytes = layout.tree->bytes(placed.file);
    if (i < ahead && bytes == nullptr) bytes_ahead -= size;
    if (placed.position < written) return Error::because("file data overlap");
    while (error.ok() && written < placed.position) {
      std::size_t gap = static_cast<std::size_t>(
          std::min<std::uint64_t>(placed.position - written, kZeros.size()));
      error = sink(kZeros.data(), gap);
      written += gap;
    }
    if (bytes != nullptr) {
      if (error.ok()) error = sink(bytes->data(), bytes->size());
      written += bytes->size();
      continue;
    }
    if (files == nullptr) return Error::because("a file's bytes are not at hand");
    if (error.ok()) error = copy_file(placed, size, *files, sink, rewind, chunk);
    written += size;
  }
  return error;
}

}  // namespace

std::string archive_bytes(const ArchiveLayout& layout) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(layout.total_size));
  write_archive(layout, [&](const char* data, std::size_t length) {
    bytes.append(data, length);
    return Error{};
  });
  return bytes;
}

}  // namespace kelvarin
