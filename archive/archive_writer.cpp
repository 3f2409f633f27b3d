// The archive writer: lays a tree out as entries, names and data, then
// writes it in file order.
#include "archive/archive_writer.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace kelvarin {
namespace {

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
  return node.source_path.empty() ? node.bytes.size() : node.size;
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

SourceNode source_tree_from_folder(const std::filesystem::path& folder,
                                   std::vector<std::string>& problems) {
  namespace fs = std::filesystem;
  auto report = [&](const fs::path& path, const std::string& what) {
    const std::u8string text = path.u8string();
    problems.push_back(std::string(reinterpret_cast<const char*>(text.data()), text.size()) +
                       ": " + what);
  };
  SourceNode root = source_folder("");
  struct Pending {
    fs::path path;
    SourceNode* node;
  };
  std::vector<Pending> pending{{folder, &root}};
  while (!pending.empty()) {
    Pending current = pending.back();
    pending.pop_back();
    std::error_code error;
    fs::directory_iterator item(current.path, error);
    for (; !error && item != fs::directory_iterator(); item.increment(error)) {
      SourceNode child;
      const std::u8string name = item->path().filename().u8string();
      child.name.assign(reinterpret_cast<const char*>(name.data()), name.size());
      fs::file_status status = item->symlink_status(error);
      if (error) break;
      if (fs::is_symlink(status)) {
        report(item->path(), "is a link, which an archive can't hold");
        continue;
      }
      if (fs::is_directory(status)) {
        child.is_folder = true;
      } else if (fs::is_regular_file(status)) {
        child.source_path = item->path();
        child.size = item->file_size(error);
        if (error) {
          report(item->path(), error.message());
          error.clear();
          continue;
        }
      } else {
        report(item->path(), "is neither a folder nor a regular file");
        continue;
      }
      current.node->children.push_back(std::move(child));
    }
    if (error) report(current.path, error.message());
    auto& children = current.node->children;
    std::sort(children.begin(), children.end(),
              [](const SourceNode& a, const SourceNode& b) { return a.name < b.name; });
    // Children are final now; their addresses stay put while we descend.
    // The name is UTF-8; a plain std::string would be read in the ANSI
    // code page on Windows.
    for (SourceNode& child : children) {
      if (!child.is_folder) continue;
      std::u8string name(reinterpret_cast<const char8_t*>(child.name.data()), child.name.size());
      pending.push_back({current.path / fs::path(name), &child});
    }
  }
  return root;
}

SourceNode source_tree_from_folder(const std::filesystem::path& folder) {
  std::vector<std::string> problems;
  SourceNode root = source_tree_from_folder(folder, problems);
  if (!problems.empty()) throw std::runtime_error(problems.front());
  return root;
}

ArchiveLayout lay_out(const std::vector<SourceNode>& top_level, const WriterOptions& options) {
  ArchiveLayout layout;
  if (top_level.empty()) {
    layout.error = "an archive needs at least one entry";
    return layout;
  }
  std::vector<const SourceNode*> numbered = number_entries(top_level, options.entry_order);
  if (static_cast<std::int64_t>(numbered.size()) >= kEntryCountLimit) {
    layout.error = "too many entries: " + std::to_string(numbered.size());
    return layout;
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
    if (node.name.find('\0') != std::string::npos) {
      layout.error = "a name holds a zero byte";
      return layout;
    }
    entry.name_offset = static_cast<std::uint32_t>(layout.name_pool.size());
    layout.name_pool += node.name;
    layout.name_pool += '\0';
    if (node.is_folder) {
      // An empty folder's first child is 0: a folder with nothing in it.
      entry.first_child = node.children.empty() ? 0 : index_of[&node.children.front()];
      link_siblings(node.children);
    } else {
      if (size_of(node) > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        layout.error = "file " + node.name + " is 2 GiB or larger, more than an archive can hold";
        return layout;
      }
      layout.sizes[i].file_size = static_cast<std::int32_t>(size_of(node));
      files.push_back(&node);
    }
  }
  if (layout.name_pool.size() > std::numeric_limits<std::uint32_t>::max()) {
    layout.error = "the names take more than 4 GiB";
    return layout;
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
      layout.error = "the data reach beyond 64 GiB, which the offset table can't name";
      return layout;
    }
    layout.offsets[ordinal] = static_cast<std::uint32_t>(position / kDataAlignment);
    layout.data.push_back({position, files[ordinal]});
    cursor = position + size_of(*files[ordinal]);
    layout.total_size = std::max(layout.total_size, cursor);
  }
  return layout;
}

bool write_archive(const ArchiveLayout& layout,
                   const std::function<bool(const char*, std::size_t)>& sink, std::string& error) {
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
  auto put = [&](const char* bytes, std::size_t length) {
    if (!sink(bytes, length)) {
      error = "unable to write the archive";
      return false;
    }
    return true;
  };
  if (!put(reinterpret_cast<const char*>(index.data()), index.size()) ||
      !put(layout.name_pool.data(), layout.name_pool.size())) {
    return false;
  }
  std::uint64_t written = index.size() + layout.name_pool.size();
  static const std::string kZeros(kDataAlignment, '\0');
  std::vector<char> chunk(1 << 20);
  for (const PlacedData& placed : layout.data) {
    if (placed.position < written) {
      error = "file data overlap";
      return false;
    }
    while (written < placed.position) {
      std::size_t gap = static_cast<std::size_t>(
          std::min<std::uint64_t>(placed.position - written, kZeros.size()));
      if (!put(kZeros.data(), gap)) return false;
      written += gap;
    }
    const SourceNode& source = *placed.source;
    if (source.source_path.empty()) {
      if (!put(source.bytes.data(), source.bytes.size())) return false;
      written += source.bytes.size();
      continue;
    }
    std::ifstream in(source.source_path, std::ios::binary);
    std::uint64_t left = source.size;
    while (left > 0 && in) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
      in.read(chunk.data(), static_cast<std::streamsize>(want));
      auto got = static_cast<std::size_t>(in.gcount());
      if (got == 0 || !put(chunk.data(), got)) break;
      left -= got;
      written += got;
    }
    if (left > 0) {
      error = "unable to read " + source.source_path.string() + " (" + std::to_string(left) +
              " bytes short)";
      return false;
    }
  }
  return true;
}

std::string archive_bytes(const ArchiveLayout& layout) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(layout.total_size));
  std::string error;
  write_archive(
      layout,
      [&](const char* data, std::size_t length) {
        bytes.append(data, length);
        return true;
      },
      error);
  return bytes;
}

bool write_archive_file(const ArchiveLayout& layout, const std::filesystem::path& path,
                        std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "unable to create " + path.string();
    return false;
  }
  bool ok = write_archive(
      layout,
      [&](const char* data, std::size_t length) {
        out.write(data, static_cast<std::streamsize>(length));
        return static_cast<bool>(out);
      },
      error);
  out.close();
  if (ok && !out) {
    error = "unable to write " + path.string();
    return false;
  }
  return ok;
}

}  // namespace kelvarin
