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

std::uint64_t align_up(std::uint64_t value) {
  return (value + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
}

// The nodes in the order they become entries.
std::vector<const SourceNode*> number_entries(const std::vector<SourceNode>& top_level,
                                              EntryOrder order) {
  std::vector<const SourceNode*> numbered;
  if (order == EntryOrder::depth_first) {
    std::vector<const SourceNode*> stack;
    for (auto it = top_level.rbegin(); it != top_level.rend(); ++it) stack.push_back(&*it);
    while (!stack.empty()) {
      const SourceNode* node = stack.back();
      stack.pop_back();
      numbered.push_back(node);
      for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
        stack.push_back(&*it);
      }
    }
  } else {
    std::deque<const SourceNode*> queue;
    for (const SourceNode& node : top_level) queue.push_back(&node);
    while (!queue.empty()) {
      const SourceNode* node = queue.front();
      queue.pop_front();
      numbered.push_back(node);
      for (const SourceNode& child : node->children) queue.push_back(&child);
    }
  }
  return numbered;
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
    error = platform::read_range(file, files.start(source), source.size, chunk, [&](const char* bytes, std::size_t length) {
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
  std::vector<const SourceNode*> numbered = number_entries(top_level, options.entry_order);
  if (static_cast<std::int64_t>(numbered.size()) >= kEntryCountLimit) {
    return Error::because("too many entries: " + std::to_string(numbered.size()));
  }
  std::unordered_map<const SourceNode*, std::int32_t> index_of;
  for (std::size_t i = 0; i < numbered.size(); ++i) {
    index_of[numbered[i]] = static_cast<std::int32_t>(i);
  }

  layout.entries.resize(numbered.size());
  layout.sizes.resize(numbered.size());
  auto link_siblings = [&](const std::vector<SourceNode>& chain) {
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
      layout.entries[index_of[&chain[i]]].next_sibling = index_of[&chain[i + 1]];
    }
  };
  link_siblings(top_level);

  std::vector<const SourceNode*> files;
  for (std::size_t i = 0; i < numbered.size(); ++i) {
    const SourceNode& node = *numbered[i];
    EntryRecord& entry = layout.entries[i];
    if (node.name.find('\0') != std::string::npos) return Error::because("a name holds a zero byte");
    entry.name_offset = static_cast<std::uint32_t>(layout.name_pool.size());
    layout.name_pool += node.name;
    layout.name_pool += '\0';
    if (node.is_folder) {
      // An empty folder's first child is 0: a folder with nothing in it.
      entry.first_child = node.children.empty() ? 0 : index_of[&node.children.front()];
      link_siblings(node.children);
    } else {
      if (size_of(node) > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return Error::because("file " + node.name + " is 2 GiB or larger, more than an archive can hold");
      }
      layout.sizes[i].file_size = static_cast<std::int32_t>(size_of(node));
      files.push_back(&node);
    }
  }
  if (layout.name_pool.size() > std::numeric_limits<std::uint32_t>::max()) {
    return Error::because("the names take more than 4 GiB");
  }

  layout.header.entry_count = static_cast<std::int32_t>(numbered.size());
  layout.header.offset_count = static_cast<std::uint32_t>(files.size());
  layout.header.name_pool_size = static_cast<std::uint32_t>(layout.name_pool.size());

  layout.offsets.resize(files.size());
  std::vector<std::size_t> placement_order(files.size());
  for (std::size_t k = 0; k < files.size(); ++k) placement_order[k] = k;
  if (options.data_order == DataOrder::reverse_entry_order) {
    std::reverse(placement_order.begin(), placement_order.end());
  }
  std::uint64_t cursor = index_size(numbered.size(), files.size(), layout.name_pool.size());
  layout.total_size = cursor;
  for (std::size_t ordinal : placement_order) {
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
  std::vector<std::uint8_t> index(kHeaderSize + layout.entries.size() * kEntryRecordSize +
                                  layout.sizes.size() * kSizeRecordSize +
                                  layout.offsets.size() * kOffsetWordSize);
  std::uint8_t* at = index.data();
  encode_header(layout.header, at);
  at += kHeaderSize;
  for (const EntryRecord& entry : layout.entries) {
    encode_entry(entry, at);
    at += kEntryRecordSize;
  }
  for (const SizeRecord& size : layout.sizes) {
    encode_size(size, at);
    at += kSizeRecordSize;
  }
  for (std::uint32_t offset : layout.offsets) {
    store_u32(at, offset);
    at += kOffsetWordSize;
  }
  Error error = sink(reinterpret_cast<const char*>(index.data()), index.size());
  if (error.ok()) error = sink(layout.name_pool.data(), layout.name_pool.size());
  std::uint64_t written = index.size() + layout.name_pool.size();
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
