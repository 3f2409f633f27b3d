// brq check: everything the extraction would refuse or trip over, found
// without writing anything, and a summary of what the archive holds.
#include <cstdio>

#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "extract/entry_name.h"
#include "extract/report.h"

namespace kelvarin::brq {
namespace {

struct Tally {
  std::uint64_t folders = 0;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t problems = 0;
};

// What the extraction would refuse the entry for, or trip over; empty for
// a sound entry.
std::string problem_of(const ArchiveIndex& index, const EntryVisit& entry) {
  std::string problem = check_entry(index, entry).cause();
  if (!problem.empty() || entry.is_folder) return problem;
  // Extraction would copy such bytes without complaint, but they are the
  // index's own: no writer puts data there, so the archive is damaged.
  const EntryFacts facts = facts_of(index, entry.entry);
  if (facts.size > 0 && *facts.position < index.index_end()) {
    problem = "its data at position " + std::to_string(*facts.position) +
              " begin inside the index, which ends at " + std::to_string(index.index_end());
  }
  return problem;
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
  Result<ArchiveIndex> opened = ArchiveIndex::open(archive);
  if (!opened.ok()) {
    if (opened.error().step() == Error::Step::open) {
      print(streams.err, error_line(why_unusable(opened.error(), archive)));
    } else {
      print(streams.out, "problem: " + one_line(opened.error().cause()) + "\nunusable\n");
    }
    return kStatusUnusable;
  }
  const ArchiveIndex& index = opened.value();

  Tally tally;
  std::string lines;
  for_each_entry(index, [&](const EntryVisit& entry) {
    if (entry.is_folder) {
      ++tally.folders;
    } else {
      ++tally.files;
      const std::int32_t size = index.node(entry.entry).file_size;
      if (size > 0) tally.bytes += static_cast<std::uint64_t>(size);
    }
    const std::string problem = problem_of(index, entry);
    if (!problem.empty()) {
      ++tally.problems;
      lines += "problem: " + one_line(describe_entry(entry) + ": " + problem) + "\n";
    }
    if (lines.size() >= (1u << 16)) {
      print(streams.out, lines);
      lines.clear();
    }
  });
  lines += summary(tally, index.entry_count());
  if (tally.problems == 0) {
    lines += "sound\n";
  } else {
    lines += std::to_string(tally.problems) + (tally.problems == 1 ? " problem\n" : " problems\n");
  }
  print(streams.out, lines);
  return tally.problems == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
