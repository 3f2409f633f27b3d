// Reads and checks the archive's index. Every count, link and offset read
// from the archive is checked before it sizes an allocation or indexes a
// table: the archive may come from anywhere.
#include "archive/index_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace kelvarin {
namespace {

// Records are decoded from a bounded staging buffer, so reading the index
// never holds a second copy of a large table.
constexpr std::size_t kStagingBytes = 1u << 16;

// Reads `count` records of `record_size` bytes, handing each to `decode`.
template <typename Decode>
bool read_records(ExtractState& state, std::uint64_t count, std::size_t record_size,
                  Decode decode, std::string& error) {
  std::vector<std::uint8_t> staging(std::min<std::uint64_t>(count, kStagingBytes / record_size) *
                                    record_size);
  std::uint64_t index = 0;
  while (index < count) {
    std::uint64_t batch = std::min<std::uint64_t>(count - index, staging.size() / record_size);
    std::size_t length = static_cast<std::size_t>(batch) * record_size;
    std::size_t got = 0;
    platform::Outcome outcome = platform::read(state.archive, staging.data(), length, got);
    if (!outcome.ok() || got != length) {
      error = "Unable to read the index of " + state.archive_path + ": " +
              (outcome.ok() ? std::string("the archive ended early") : platform::describe(outcome));
      return false;
    }
    for (std::uint64_t i = 0; i < batch; ++i) {
      decode(static_cast<std::size_t>(index + i), staging.data() + i * record_size);
    }
    index += batch;
  }
  return true;
}

bool link_in_range(std::int32_t link, std::int32_t entry_count) {
  return link == kNoEntry || (link >= 0 && link < entry_count);
}

}  // namespace

std::string read_header(ExtractState& state) {
  platform::Outcome outcome = platform::file_size(state.archive, state.archive_size);
  if (!outcome.ok()) {
    return "Unable to read " + state.archive_path + ": " + platform::describe(outcome);
  }
  if (state.archive_size < kHeaderSize) {
    return state.archive_path + " is too short to be an archive: " +
           std::to_string(state.archive_size) + " bytes, and the header alone takes " +
           std::to_string(kHeaderSize);
  }
  std::uint8_t bytes[kHeaderSize];
  std::size_t got = 0;
  outcome = platform::read(state.archive, bytes, sizeof bytes, got);
  if (!outcome.ok() || got != sizeof bytes) {
    return "Unable to read the header of " + state.archive_path + ": " +
           (outcome.ok() ? std::string("the archive ended early") : platform::describe(outcome));
  }
  ArchiveHeader header = decode_header(bytes);
  state.entry_count = header.entry_count;
  state.offset_count = header.offset_count;
  state.name_pool_size = header.name_pool_size;

  if (header.entry_count <= 0 || header.entry_count >= kEntryCountLimit) {
    return state.archive_path + " is not a usable archive: its entry count " +
           std::to_string(header.entry_count) + " is outside 1 to " +
           std::to_string(kEntryCountLimit - 1);
  }
  if (header.offset_count >= kOffsetCountLimit) {
    return state.archive_path + " is not a usable archive: its offset count " +
           std::to_string(header.offset_count) + " is " + std::to_string(kOffsetCountLimit) +
           " or more";
  }
  std::uint64_t needed = index_size(static_cast<std::uint64_t>(header.entry_count),
                                    header.offset_count, header.name_pool_size);
  if (needed > state.archive_size) {
    return state.archive_path + " is not a usable archive: its index needs " +
           std::to_string(needed) + " bytes but the archive has " +
           std::to_string(state.archive_size);
  }
  return {};
}

int allocate_tables(ExtractState& state) {
  auto entries = static_cast<std::size_t>(state.entry_count);
  try {
    state.entry_table.resize(entries);
    state.node_table.resize(entries);
    state.size_table.resize(entries);
    state.offset_table.resize(state.offset_count);
    state.name_pool.resize(state.name_pool_size);
  } catch (const std::bad_alloc&) {
    return -1;
  } catch (const std::length_error&) {
    return -1;
  }
  return 0;
}

int read_tables(ExtractState& state, std::string& error) {
  auto entries = static_cast<std::uint64_t>(state.entry_count);
  bool ok = read_records(
                state, entries, kEntryRecordSize,
                [&](std::size_t i, const std::uint8_t* bytes) {
                  state.entry_table[i] = decode_entry(bytes);
                },
                error) &&
            read_records(
                state, entries, kSizeRecordSize,
                [&](std::size_t i, const std::uint8_t* bytes) {
                  state.size_table[i] = decode_size(bytes);
                },
                error) &&
            read_records(
                state, state.offset_count, kOffsetWordSize,
                [&](std::size_t i, const std::uint8_t* bytes) {
                  state.offset_table[i] = load_u32(bytes);
                },
                error);
  if (!ok) return -1;
  std::size_t got = 0;
  platform::Outcome outcome =
      platform::read(state.archive, state.name_pool.data(), state.name_pool.size(), got);
  if (!outcome.ok() || got != state.name_pool.size()) {
    error = "Unable to read the name pool of " + state.archive_path + ": " +
            (outcome.ok() ? std::string("the archive ended early") : platform::describe(outcome));
    return -1;
  }
  return 1;
}

std::string check_links(const ExtractState& state) {
  for (std::size_t i = 0; i < state.entry_table.size(); ++i) {
    const EntryRecord& entry = state.entry_table[i];
    const char* field = nullptr;
    std::int32_t link = 0;
    if (!link_in_range(entry.next_sibling, state.entry_count)) {
      field = "next sibling";
      link = entry.next_sibling;
    } else if (!link_in_range(entry.first_child, state.entry_count)) {
      field = "first child";
      link = entry.first_child;
    }
    if (field != nullptr) {
      return state.archive_path + " is not a usable archive: entry " + std::to_string(i) +
             " names entry " + std::to_string(link) + " as its " + field +
             ", outside the entry table (" + std::to_string(state.entry_count) + " entries)";
    }
  }
  return {};
}

int build_nodes(ExtractState& state) {
  std::uint32_t files_so_far = 0;
  for (std::size_t i = 0; i < state.entry_table.size(); ++i) {
    const EntryRecord& entry = state.entry_table[i];
    EntryNode& node = state.node_table[i];
    node.kind = entry.first_child != kNoEntry ? NODE_DIRECTORY : NODE_FILE;
    node.next = entry.next_sibling == kNoEntry ? kNoNode : static_cast<std::uint32_t>(entry.next_sibling);
    node.child = entry.first_child == kNoEntry ? kNoNode : static_cast<std::uint32_t>(entry.first_child);
    node.entry_index = static_cast<std::int32_t>(i);
    node.name_offset = entry.name_offset;
    node.file_ordinal = files_so_far;
    node.problem = EntryProblem::none;
    if (node.kind != NODE_DIRECTORY) ++files_so_far;
  }
  return 1;
}

std::string check_reachability(const ExtractState& state) {
  std::vector<bool> seen(state.node_table.size());
  std::vector<std::uint32_t> pending{0};
  while (!pending.empty()) {
    std::uint32_t index = pending.back();
    pending.pop_back();
    if (seen[index]) {
      return state.archive_path + " is not a usable archive: entry " + std::to_string(index) +
             " is reached twice from the root (a cycle, or one entry in two chains)";
    }
    seen[index] = true;
    const EntryNode& node = state.node_table[index];
    if (node.next != kNoNode) pending.push_back(node.next);
    if (node.child != kNoNode) pending.push_back(node.child);
  }
  return {};
}

void check_entries(ExtractState& state) {
  // A name is terminated when a zero byte follows it anywhere in the pool,
  // that is when it starts at or before the pool's last zero byte.
  const char* pool = state.name_pool.data();
  std::size_t pool_size = state.name_pool.size();
  std::size_t after_last_zero = 0;
  for (std::size_t i = pool_size; i > 0; --i) {
    if (pool[i - 1] == '\0') {
      after_last_zero = i;
      break;
    }
  }
  for (EntryNode& node : state.node_table) {
    if (node.name_offset >= pool_size) {
      node.problem = EntryProblem::name_outside_pool;
      continue;
    }
    if (node.name_offset >= after_last_zero) {
      node.problem = EntryProblem::name_unterminated;
      continue;
    }
    std::size_t span = std::min(pool_size - node.name_offset, kMaxNameBytes + 1);
    if (std::memchr(pool + node.name_offset, '\0', span) == nullptr) {
      node.problem = EntryProblem::name_too_long;
      continue;
    }
    if (node.kind == NODE_DIRECTORY) continue;
    std::int32_t size = state.size_table[static_cast<std::size_t>(node.entry_index)].file_size;
    if (node.file_ordinal >= state.offset_count) {
      node.problem = EntryProblem::ordinal_beyond_offsets;
    } else if (size < 0) {
      node.problem = EntryProblem::negative_size;
    } else if (size > 0 &&
               data_position(state.offset_table[node.file_ordinal]) + static_cast<std::uint64_t>(size) >
                   state.archive_size) {
      // An empty file reads nothing, so where its data would lie is moot.
      node.problem = EntryProblem::data_beyond_end;
    }
  }
}

std::string describe_problem(const ExtractState& state, const EntryNode& node) {
  const SizeRecord& size = state.size_table[static_cast<std::size_t>(node.entry_index)];
  switch (node.problem) {
    case EntryProblem::none:
      return {};
    case EntryProblem::name_outside_pool:
      return "its name offset " + std::to_string(node.name_offset) + " is outside the " +
             std::to_string(state.name_pool_size) + "-byte name pool";
    case EntryProblem::name_unterminated:
      return "its name at offset " + std::to_string(node.name_offset) +
             " runs past the end of the name pool";
    case EntryProblem::name_too_long:
      return "its name at offset " + std::to_string(node.name_offset) + " is longer than " +
             std::to_string(kMaxNameBytes) + " bytes";
    case EntryProblem::ordinal_beyond_offsets:
      return "it is file number " + std::to_string(node.file_ordinal) +
             " but the offset table holds only " + std::to_string(state.offset_count) + " positions";
    case EntryProblem::negative_size:
      return "its size " + std::to_string(size.file_size) + " is negative";
    case EntryProblem::data_beyond_end:
      return "its " + std::to_string(size.file_size) + " bytes at position " +
             std::to_string(data_position(state.offset_table[node.file_ordinal])) +
             " end beyond the archive's end (" + std::to_string(state.archive_size) + " bytes)";
  }
  return {};
}

bool load_index(ExtractState& state, std::string& error) {
  error = read_header(state);
  if (!error.empty()) return false;
  if (allocate_tables(state) != 0) {
    error = "Unable to allocate memory for the index of " + state.archive_path;
    return false;
  }
  if (read_tables(state, error) != 1) return false;
  error = check_links(state);
  if (!error.empty()) return false;
  build_nodes(state);
  error = check_reachability(state);
  if (!error.empty()) return false;
  check_entries(state);
  return true;
}

}  // namespace kelvarin
