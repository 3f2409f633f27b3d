// Summing up what an archive holds.
#include "extract/archive_counts.h"

#include "extract/unused_bytes.h"

namespace kelvarin {

ArchiveCounts count_archive(const ArchiveIndex& index, const ExtractionPlan& plan) {
  ArchiveCounts counts;
  for (std::uint32_t entry = 0; entry < index.entry_count(); ++entry) {
    if (plan[entry].fate == Fate::unreached) continue;
    if (index.is_folder(entry)) {
      ++counts.folders;
      continue;
    }
    ++counts.files;
    const std::int32_t size = index.node(entry).file_size;
    if (size > 0) counts.bytes += static_cast<std::uint64_t>(size);
  }
  counts.entries = counts.folders + counts.files;
  counts.unreachable = index.entry_count() - counts.entries;
  counts.unused = unused_bytes(index, plan);
  return counts;
}

}  // namespace kelvarin
