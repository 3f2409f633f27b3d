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

// Calls `visit(node, index)` for each node in the order they become
// entries, and links each to its first child and next sibling in `entries`
// as it goes, so that no table from nodes to numbers is needed: depth first
// a folder's first child comes right after it and a node's next sibling
// once all below it is numbered; breadth first a folder's children are
// numbered together.
template <typename Visit>
std::size_t number_entries(const std::vector<SourceNode>& top_level, EntryOrder order,
                           std::vector<EntryRecord>& entries, Visit visit) {
  std::size_t count = 0;
  auto number = [&](const SourceNode& node) {
    const auto index = static_cast<std::int32_t>(count++);
    if (entries.size() < count) entries.resize(count);
    if (node.is_folder) entries[index].first_child = 0;  // a folder with nothing in it
    visit(node, index);
    return index;
  };
  if (order == EntryOrder::depth_first) {
    // A folder being numbered: its children, the next to number, and the
    // last numbered (or the folder itself, before its first child).
    struct Frame {
      const std::vector<SourceNode>* children;
      std::size_t next;
      std::int32_t last;
      bool first;
    };
    std::vector<Frame> frames{{&top_level, 0, kNoEntry, true}};
    while (!frames.empty()) {
      Frame& frame = frames.back();
      if (frame.next == frame.children->size()) {
        frames.pop_back();
        continue;
      }
      const SourceNode& node = (*frame.children)[frame.next++];
      const std::int32_t index = number(node);
      if (frame.last != kNoEntry) {
        (frame.first ? entries[frame.last].first_child : entries[frame.last].next_sibling) = index;
      }
      frame.last = index;
      frame.first = false;
      if (node.is_folder && !node.children.empty()) frames.push_back({&node.children, 0, index, true});
    }
    return count;
  }
  std::deque<std::pair<const SourceNode*, std::int32_t>> queue;  // a folder and its number
  auto number_chain = [&](const std::vector<SourceNode>& chain) {
    std::int32_t first = kNoEntry;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      const std::int32_t index = number(chain[i]);
      if (i == 0) first = index;
      if (i + 1 < chain.size()) entries[index].next_sibling = index + 1;
      if (chain[i].is_folder && !chain[i].children.empty()) queue.emplace_back(&chain[i], index);
    }
    return first;
  };
  number_chain(top_level);
  while (!queue.empty()) {
    const auto [folder, index] = queue.front();
    queue.pop_front();
    const std::int32_t first = number_chain(folder->children);
    entries[index].first_child = first;
  }
  return count;
}

std::uint64_t size_of(const SourceNode& node) {
  return node.disk_file == kInMemory ? node.bytes.size() : node.size;
}


// Hands the bytes of the file `placed` stands for to `sink`, then checks
// that the file did not change meanwhile: rewritten in place, a file keeps
// its number and size and only its times tell that what was read may mix
// two versions, a state never on disk. Read again once, the file is stored
// whole; if it changes again it is not stored at all.
Error copy_file(const PlacedData& placed, FileSource& files, const ArchiveSink& sink, const ArchiveRewind& rewind,
                std::vector<char>& chunk) {
  const SourceNode& source = *placed.source;
  platform::FileHandle file;
  Error error = files.open(source, file);
  if (!error.ok()) return error;
  platform::FileIdentity before, after;
  error = platform::identify(file, before);
  for (bool again = static_cast<bool>(rewind); error.ok(); again = false) {
    Error sunk;
    error = platform::read_range(file, 0, source.size, chunk, [&](const char* bytes, std::size_t length) {
      sunk = sink(bytes, length);
      return sunk;
    });
    if (!sunk.ok()) return sunk;
    if (error.is_ended_early()) {
      error = Error::because("it shrank below its " + std::to_string(source.size) + " bytes while it was read");
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
  if (!error.ok()) error.during(Error::Step::read).on(files.path_of(source));
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

Result<ArchiveLayout> lay_out(const std::vector<SourceNode>& top_level, const WriterOptions& options) {
  ArchiveLayout layout;
  if (top_level.empty()) return Error::because("an archive needs at least one entry");
  std::vector<const SourceNode*> files;
  Error refused;
  std::size_t count = number_entries(
      top_level, options.entry_order, layout.entries, [&](const SourceNode& node, std::int32_t index) {
        if (!refused.ok() || static_cast<std::int64_t>(index) + 1 >= kEntryCountLimit) return;
        if (node.name.find('\0') != std::string::npos) refused = Error::because("a name holds a zero byte");
        layout.entries[index].name_offset = static_cast<std::uint32_t>(layout.name_pool.size());
        layout.name_pool += node.name;
        layout.name_pool += '\0';
        if (node.is_folder) return;
        if (size_of(node) > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
          refused = Error::because("file " + node.name + " is 2 GiB or larger, more than an archive can hold");
        }
        if (layout.sizes.size() <= static_cast<std::size_t>(index)) layout.sizes.resize(index + 1);
        layout.sizes[index].file_size = static_cast<std::int32_t>(size_of(node));
        files.push_back(&node);
      });
  if (static_cast<std::int64_t>(count) >= kEntryCountLimit) {
    return Error::because("too many entries: " + std::to_string(count));
  }
  if (!refused.ok()) return refused;
  layout.sizes.resize(count);
  if (layout.name_pool.size() > std::numeric_limits<std::uint32_t>::max()) {
    return Error::because("the names take more than 4 GiB");
  }

  layout.header.entry_count = static_cast<std::int32_t>(count);
  layout.header.offset_count = static_cast<std::uint32_t>(files.size());
  layout.header.name_pool_size = static_cast<std::uint32_t>(layout.name_pool.size());

  layout.offsets.resize(files.size());
  layout.data.reserve(files.size());
  std::uint64_t cursor = index_size(count, files.size(), layout.name_pool.size());
  layout.total_size = cursor;
  const bool reverse = options.data_order == DataOrder::reverse_entry_order;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::size_t ordinal = reverse ? files.size() - 1 - k : k;
    std::uint64_t position = align_up(cursor);
    if (position / kDataAlignment > std::numeric_limits<std::uint32_t>::max()) {
      return Error::because("the data reach beyond 64 GiB, which the offset table can't name");
    }
    layout.offsets[ordinal] = static_cast<std::uint32_t>(position / kDataAlignment);
    layout.data.push_back({position, files[ordinal]});
    cursor = position + size_of(*files[ordinal]);
    layout.total_size = std::max(layout.total_size, cursor);
  }
  return layout;
}

Error write_archive(const ArchiveLayout& layout, const ArchiveSink& sink, FileSource* files,
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
      const SourceNode& next = *layout.data[ahead].source;
      if (next.disk_file == kInMemory) continue;
      files->read_ahead(next);
      bytes_ahead += next.size;
    }
    if (i < ahead && placed.source->disk_file != kInMemory) bytes_ahead -= placed.source->size;
    if (placed.position < written) return Error::because("file data overlap");
    while (error.ok() && written < placed.position) {
      std::size_t gap = static_cast<std::size_t>(
          std::min<std::uint64_t>(placed.position - written, kZeros.size()));
      error = sink(kZeros.data(), gap);
      written += gap;
    }
    const SourceNode& source = *placed.source;
    if (source.disk_file == kInMemory) {
      if (error.ok()) error = sink(source.bytes.data(), source.bytes.size());
      written += source.bytes.size();
      continue;
    }
    if (error.ok()) error = copy_file(placed, *files, sink, rewind, chunk);
    written += source.size;
  }
  return error;
}

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
