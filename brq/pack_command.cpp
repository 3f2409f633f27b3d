// brq pack: a folder into an archive with the archive writer, refusing
// what Kelvarin_Extract could not give back exactly, and written under a
// temporary name so that a failed pack never leaves a partial archive.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>

#include "archive/archive_writer.h"
#include "brq/archive_session.h"
#include "brq/commands.h"
#include "brq/utf8_text.h"
#include "extract/entry_name.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

namespace fs = std::filesystem;

// Writes go out in blocks of this size, not one call per name or padding.
constexpr std::size_t kWriteBlock = 1u << 20;

fs::path path_from_utf8(std::string_view text) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// Whether `archive` would be written in `folder` or below it, where it
// would be packed into the next archive made from that folder.
bool lands_inside(const fs::path& archive, const fs::path& folder) {
  std::error_code error;
  fs::path real_folder = fs::canonical(folder, error);
  if (error) return false;
  fs::path target = fs::weakly_canonical(fs::absolute(archive, error), error);
  if (error) return false;
  auto mismatch = std::mismatch(real_folder.begin(), real_folder.end(), target.begin(), target.end());
  return mismatch.first == real_folder.end();
}

// Why the entries of `root` can't all be stored so that Kelvarin_Extract
// gives them back exactly, one message each; `shown` is the folder as typed.
std::vector<std::string> unstorable_entries(const SourceNode& root, const std::string& shown) {
  std::vector<std::string> problems;
  struct Pending {
    const SourceNode* node;
    std::string path;
  };
  std::vector<Pending> pending;
  const std::string top = shown.empty() || shown.back() == '/' ? shown : shown + "/";
  for (const SourceNode& child : root.children) pending.push_back({&child, top + child.name});
  while (!pending.empty()) {
    Pending current = std::move(pending.back());
    pending.pop_back();
    const SourceNode& node = *current.node;
    auto refuse = [&](const std::string& why) { problems.push_back(current.path + ": " + why); };
    if (const char* reason = unsafe_name_reason(node.name, !node.is_folder)) {
      refuse(std::string(reason) + ", so Kelvarin_Extract would refuse it");
    } else if (node.name.size() > kMaxNameBytes) {
      refuse("the name is longer than " + std::to_string(kMaxNameBytes) + " bytes");
    } else if (!is_utf8(node.name)) {
      refuse("the name is not UTF-8 text, which archive names are");
    }
    if (!node.is_folder &&
        node.size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      refuse("the file has " + std::to_string(node.size) +
             " bytes; an archive holds files below 2 GiB (2147483648 bytes)");
    }
    for (const SourceNode& child : node.children) {
      pending.push_back({&child, current.path + "/" + child.name});
    }
  }
  std::sort(problems.begin(), problems.end());
  return problems;
}

std::string temporary_name_for(const fs::path& archive) {
  std::random_device random;
  std::uint64_t tag = (std::uint64_t{random()} << 32) ^ random();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "." + utf8_of(archive.filename()) + ".";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(tag >> shift) & 0xF];
  return name + ".part";
}

// Writes the layout under a temporary name beside `archive`, then renames
// it over `archive`. Empty on success, else why not.
std::string write_atomically(const ArchiveLayout& layout, const fs::path& archive) {
  const fs::path temp = archive.parent_path() / path_from_utf8(temporary_name_for(archive));
  const platform::NativeString temp_native = platform::native_path(utf8_of(temp));
  platform::FileHandle file;
  platform::Outcome outcome = platform::create_file(temp_native, file);
  if (!outcome.ok()) return "Unable to create " + utf8_of(temp) + ": " + platform::describe(outcome);

  std::vector<char> block;
  block.reserve(kWriteBlock);
  auto flush = [&] {
    if (outcome.ok() && !block.empty()) outcome = platform::write(file, block.data(), block.size());
    block.clear();
    return outcome.ok();
  };
  std::string error;
  bool written = write_archive(
      layout,
      [&](const char* bytes, std::size_t length) {
        if (block.size() + length > kWriteBlock && !flush()) return false;
        if (length >= kWriteBlock) {
          outcome = platform::write(file, bytes, length);
          return outcome.ok();
        }
        block.insert(block.end(), bytes, bytes + length);
        return true;
      },
      error);
  if (written && !flush()) written = false;
  platform::Outcome closed = file.close();
  if (outcome.ok()) outcome = closed;
  if (written && outcome.ok()) {
    outcome = platform::replace_file(temp_native, platform::native_path(utf8_of(archive)));
    if (outcome.ok()) return {};
    error = "Unable to rename " + utf8_of(temp) + " to " + utf8_of(archive);
  } else if (!outcome.ok()) {
    error = "Unable to write " + utf8_of(temp);
  }
  platform::remove_file(temp_native);
  return outcome.ok() ? error : error + ": " + platform::describe(outcome);
}

}  // namespace

int pack_folder(const std::string& folder, const std::string& archive, const Streams& streams) {
  const fs::path folder_path = path_from_utf8(folder);
  const fs::path archive_path = path_from_utf8(archive);
  std::error_code error;
  if (!fs::is_directory(folder_path, error)) {
    print_error(streams.err, folder + " is not a folder");
    return kStatusUnusable;
  }
  if (fs::is_directory(archive_path, error)) {
    print_error(streams.err, archive + " is a folder; name the archive to write");
    return kStatusUnusable;
  }
  if (lands_inside(archive_path, folder_path)) {
    print_error(streams.err, archive + " lies inside " + folder +
                                 ", so it would be packed into its next version; write it elsewhere");
    return kStatusUnusable;
  }

  std::vector<std::string> problems;
  std::vector<SourceNode> top_level;
  top_level.push_back(source_tree_from_folder(folder_path, problems));
  for (std::string& problem : unstorable_entries(top_level.front(), folder)) {
    problems.push_back(std::move(problem));
  }
  if (!problems.empty()) {
    for (const std::string& problem : problems) print_error(streams.err, problem);
    print_error(streams.err, "Nothing written: " + std::to_string(problems.size()) +
                                 (problems.size() == 1 ? " entry" : " entries") +
                                 " can't be stored in an archive");
    return kStatusEntriesFailed;
  }

  ArchiveLayout layout = lay_out(top_level);
  if (!layout.error.empty()) {
    print_error(streams.err, "Unable to pack " + folder + ": " + layout.error);
    return kStatusUnusable;
  }
  std::string failure = write_atomically(layout, archive_path);
  if (!failure.empty()) {
    print_error(streams.err, failure);
    return kStatusUnusable;
  }
  const std::size_t files = layout.data.size();
  print(streams.out, "Packed " + std::to_string(layout.entries.size()) + " entries (" +
                         std::to_string(files) + " files, " +
                         std::to_string(layout.entries.size() - files) + " folders), " +
                         std::to_string(layout.total_size) + " bytes: " + archive + "\n");
  return kStatusSuccess;
}

}  // namespace kelvarin::brq
