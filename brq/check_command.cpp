// brq check: everything the extraction would refuse or trip over, found
// without writing anything, and a summary of what the archive holds.
#include <cstdio>

#include "archive/index_loader.h"
#include "brq/archive_session.h"
#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "brq/utf8_text.h"
#include "extract/entry_name.h"

namespace kelvarin::brq {
namespace {

struct Tally {
  std::uint64_t folders = 0;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t problems = 0;
};

// Each problem of one entry, as a phrase; none for a sound entry.
std::vector<std::string> problems_of(const ExtractState& state, const ListedEntry& entry,
                                     std::uint64_t index_end) {
  const EntryNode& node = state.node_table[entry.node];
  std::vector<std::string> problems;
  if (!entry.name_readable) return {describe_problem(state, node)};
  const bool is_file = node.kind != NODE_DIRECTORY;
  std::string_view name = entry_name(state, node);
  if (const char* reason = unsafe_name_reason(name, is_file)) problems.emplace_back(reason);
  if (!is_file) return problems;
  if (node.problem != EntryProblem::none) {
    problems.push_back(describe_problem(state, node));
    return problems;
  }
  // Extraction would copy such bytes without complaint, but they are the
  // index's own: no writer puts data there, so the archive is damaged.
  const EntryFacts facts = facts_of(state, node);
  if (facts.size > 0 && facts.position && *facts.position < index_end) {
    problems.push_back("its data at position " + std::to_string(*facts.position) +
                       " begin inside the index, which ends at " + std::to_string(index_end));
  }
  return problems;
}

std::string summary(const Tally& tally, std::uint64_t entry_count) {
  std::uint64_t reachable = tally.folders + tally.files;
  std::string text = "entries      " + std::to_string(reachable) + "\n" +
                     "folders      " + std::to_string(tally.folders) + "\n" +
                     "files        " + std::to_string(tally.files) + "\n" +
                     "total bytes  " + std::to_string(tally.bytes) + "\n";
  if (reachable < entry_count) {
    text += "unreachable  " + std::to_string(entry_count - reachable) +
            " (linked from nowhere; never extracted)\n";
  }
  return text;
}

}  // namespace

int check_archive(const std::string& archive, const Streams& streams) {
  ExtractState state;
  std::string error;
  switch (open_archive_index(state, archive, error)) {
    case Opened::not_opened:
      print_error(streams.err, error);
      return kStatusUnusable;
    case Opened::unusable:
      print(streams.out, "problem: " + one_line(error) + "\nunusable\n");
      return kStatusUnusable;
    case Opened::loaded:
      break;
  }

  const std::uint64_t index_end = index_size(static_cast<std::uint64_t>(state.entry_count),
                                             state.offset_count, state.name_pool_size);
  Tally tally;
  std::string lines;
  for_each_entry(state, [&](const ListedEntry& entry) {
    const EntryNode& node = state.node_table[entry.node];
    if (node.kind == NODE_DIRECTORY) {
      ++tally.folders;
    } else {
      ++tally.files;
      std::int32_t size = state.size_table[static_cast<std::size_t>(node.entry_index)].file_size;
      if (size > 0) tally.bytes += static_cast<std::uint64_t>(size);
    }
    for (const std::string& problem : problems_of(state, entry, index_end)) {
      ++tally.problems;
      lines += "problem: " + one_line(describe_entry(entry) + ": " + problem) + "\n";
    }
    if (lines.size() >= (1u << 16)) {
      print(streams.out, lines);
      lines.clear();
    }
  });
  lines += summary(tally, static_cast<std::uint64_t>(state.entry_count));
  if (tally.problems == 0) {
    lines += "sound\n";
  } else {
    lines += std::to_string(tally.problems) + (tally.problems == 1 ? " problem\n" : " problems\n");
  }
  print(streams.out, lines);
  return tally.problems == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
