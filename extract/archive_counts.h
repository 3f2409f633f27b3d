// What an archive holds, as its check sums it up: the entries the walk
// reaches, their bytes, those linked from nowhere, and the bytes no file's
// data cover.
#pragma once

#include <cstdint>

#include "archive/archive_index.h"
#include "extract/extraction_plan.h"

namespace kelvarin {

struct ArchiveCounts {
  std::uint64_t entries = 0;
  std::uint64_t folders = 0;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t unreachable = 0;  // linked from nowhere
  std::uint64_t unused = 0;       // in no file's data: see unused_bytes
};

// The counts of `index` under the whole archive's `plan`.
ArchiveCounts count_archive(const ArchiveIndex& index, const ExtractionPlan& plan);

}  // namespace kelvarin
