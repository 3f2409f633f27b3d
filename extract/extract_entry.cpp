// File extraction: one entry's bytes from the archive into a new file.
#include "extract/extract_entry.h"

#include <algorithm>

#include "extract/report.h"

namespace kelvarin {
namespace {

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

std::string shown_path(const FolderContext& folder, std::string_view name) {
  std::string path(folder.dest_shown);
  path += folder.dir_path;
  path += name;
  return path;
}

// A hash keeps the temporary names short whatever the length of the final
// one: prefix, 16 hex digits of the hash, suffix. Files and folders have
// suffixes of their own, so a leftover of one is never taken for the other.
constexpr std::string_view kTemporaryPrefix = ".kelvarin-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::string_view kTemporaryFolderSuffix = ".partdir";
constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kTemporaryNameLength =
    kTemporaryPrefix.size() + kHashDigits + kTemporarySuffix.size();

// Writes the prefix and the hash of `name` to `text` without taking memory
// (it runs once per file) and returns where the suffix goes.
char* format_temporary_stem(std::string_view name, char* text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::uint64_t hash = fnv1a(name);
  char* at = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), text);
  for (std::size_t digit = 0; digit < kHashDigits; ++digit) {
    *at++ = kHex[(hash >> (4 * (kHashDigits - 1 - digit))) & 0xF];
  }
  return at;
}

// Fills `text` (kTemporaryNameLength chars).
void format_temporary_name(std::string_view name, char* text) {
  char* at = format_temporary_stem(name, text);
  std::copy(kTemporarySuffix.begin(), kTemporarySuffix.end(), at);
}

int fail_to_create(ExtractState& state, const FolderContext& folder, std::string_view name) {
  report_error(state, "Unable to create file: " + shown_path(folder, name));
  return -1;
}

// `left` is set when the part written stays under the file's name.
int report_copy_failure(ExtractState& state, const EntryNode& node, const FolderContext& folder,
                        std::string_view name, const platform::CopyOutcome& copy,
                        const platform::Outcome& left = {}) {
  std::string where = shown_path(folder, name);
  if (!left.ok()) where += " (the part written stays: " + platform::describe(left) + ")";
  switch (copy.side) {
    case platform::CopyOutcome::Side::end_of_archive:
      report_error(state, "Unable to read the data of entry " + std::to_string(node.entry_index) +
                              " for " + where + ": the archive ends before its last byte");
      break;
    case platform::CopyOutcome::Side::read:
      report_error(state, "Unable to read the data of entry " + std::to_string(node.entry_index) +
                              " for " + where + ": " + platform::describe(copy.outcome));
      break;
    default:
      report_error(state, "Unable to write file: " + where + ": " +
                              platform::describe(copy.outcome));
      break;
  }
  return -1;
}

}  // namespace

std::string temporary_name(std::string_view name) {
  char text[kTemporaryNameLength];
  format_temporary_name(name, text);
  return std::string(text, sizeof text);
}

std::string temporary_folder_name(std::string_view name) {
  char text[kTemporaryNameLength - kTemporarySuffix.size() + kTemporaryFolderSuffix.size()];
  char* at = format_temporary_stem(name, text);
  std::copy(kTemporaryFolderSuffix.begin(), kTemporaryFolderSuffix.end(), at);
  return std::string(text, sizeof text);
}

int extract_entry(ExtractState& state, const EntryNode& node, std::string_view name,
                  const FolderContext& folder) {
  std::int32_t size = state.size_table[static_cast<std::size_t>(node.entry_index)].file_size;
  print_file_line(state, folder.dir_path, name, size);
  if (!folder.usable) return fail_to_create(state, folder, name);

  // The paths are composed in buffers of the run, so that once they have
  // grown a file costs no allocation.
  platform::NativeString& final_path = state.final_path;
  final_path.assign(folder.native);
  final_path += platform::native_path(name);
  const std::uint64_t position = data_position(state.offset_table[node.file_ordinal]);
  const auto length = static_cast<std::uint64_t>(size);

  if (folder.fresh) {
    // Nobody sees this folder under its name before everything in it is
    // written, so a free name is written directly and a file that fails is
    // removed again. A taken name (the archive holds it twice) goes the way
    // below, which keeps the earlier file until the later one is whole.
    platform::FileHandle output;
    platform::Outcome created = platform::create_new_file(final_path, output);
    if (created.ok()) {
      platform::CopyOutcome copy;
      try {
        copy = platform::copy_range(state.archive, position, length, output, state.copy_buffer);
      } catch (...) {
        // The copy buffer couldn't be had: the walk stops, and the folder
        // it then names must not hold this file empty.
        output.close();
        platform::remove_file(final_path);
        throw;
      }
      if (copy.ok()) {
        platform::Outcome closed = output.close();
        if (closed.ok()) return 1;
        copy = {platform::CopyOutcome::Side::write, closed};
      }
      output.close();
      const platform::Outcome removed = platform::remove_file(final_path);
      return report_copy_failure(state, node, folder, name, copy, removed);
    }
    if (!platform::name_taken(created)) return fail_to_create(state, folder, name);
  }

  // The temporary name is ASCII, the same in every path form, and needs no
  // conversion.
  platform::NativeString& temp_path = state.temp_path;
  temp_path.assign(folder.native);
  char temp_name[kTemporaryNameLength];
  format_temporary_name(name, temp_name);
  temp_path.append(temp_name, temp_name + kTemporaryNameLength);
  platform::NewFile output;
  if (!platform::begin_file(folder.native, temp_path, output).ok()) {
    return fail_to_create(state, folder, name);
  }
  platform::CopyOutcome copy =
      platform::copy_range(state.archive, position, length, output.handle, state.copy_buffer);
  if (copy.ok()) {
    platform::FinishOutcome finished = platform::finish_file(output, temp_path, final_path);
    if (finished.ok()) return 1;
    if (!finished.while_closing) return fail_to_create(state, folder, name);
    copy = {platform::CopyOutcome::Side::write, finished.outcome};
  } else {
    platform::abandon_file(output, temp_path);
  }
  return report_copy_failure(state, node, folder, name, copy);
}

}  // namespace kelvarin
