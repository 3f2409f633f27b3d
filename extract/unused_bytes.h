// How much of an archive no entry's data cover: what edits leave behind
// when they replace or remove files without moving the rest, and what a
// compaction gives back.
#pragma once

#include <cstdint>

#include "archive/archive_index.h"
#include "extract/extraction_plan.h"

namespace kelvarin {

// The bytes between the end of `index` and the end of the archive that lie
// in no file's data, counting only files the walk of `plan` reaches (left
// out or not) whose range the index checked; data shared by several files
// count once. A gap of fewer than kDataAlignment bytes before a file's data
// is the alignment every writer leaves, and is not counted: an archive as
// brq pack writes it has none unused. Every other gap counts whole, bytes
// after the last file's data too.
std::uint64_t unused_bytes(const ArchiveIndex& index, const ExtractionPlan& plan);

}  // namespace kelvarin
