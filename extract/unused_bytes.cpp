// The archive's data ranges sorted by where they begin, and the gaps
// between them added up.
#include "extract/unused_bytes.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kelvarin {

std::uint64_t unused_bytes(const ArchiveIndex& index, const ExtractionPlan& plan) {
  const std::uint64_t data_start = index.index_end();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  for (std::uint32_t entry = 0; entry < index.entry_count(); ++entry) {
    const EntryNode& node = index.node(entry);
    if (plan[entry].fate == Fate::unreached || index.is_folder(entry) || node.file_size < 0 ||
        node.problem == EntryProblem::data_beyond_end) {
      continue;
    }
    const std::optional<std::uint64_t> position = index.data_position(entry);
    if (!position) continue;
    const std::uint64_t end = *position + static_cast<std::uint64_t>(node.file_size);
    // Data inside the index cover only what lies past it.
    ranges.emplace_back(std::max(*position, data_start), std::max(end, data_start));
  }
  std::sort(ranges.begin(), ranges.end());
  std::uint64_t unused = 0;
  std::uint64_t covered = data_start;  // the furthest end of the ranges so far
  for (const auto& [start, end] : ranges) {
    if (start > covered && start - covered >= kDataAlignment) unused += start - covered;
    covered = std::max(covered, end);
  }
  if (index.archive_size() > covered) unused += index.archive_size() - covered;
  return unused;
}

}  // namespace kelvarin
