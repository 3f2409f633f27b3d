// The check through the C API: the facts brq check reports, as numbers.
#include "api/api_handle.h"
#include "extract/archive_counts.h"

using namespace kelvarin;
using namespace kelvarin::api;

extern "C" {

kelvarin_kind kelvarin_check(kelvarin_archive* archive, kelvarin_check_result* result) {
  return guarded(archive, [&] {
    if (const kelvarin_kind listed = need_listing(archive); listed != KELVARIN_OK) return listed;
    if (result == nullptr || result->struct_size < sizeof(std::size_t)) {
      return fail(archive, KELVARIN_MISUSE, "no result, or its struct_size is not set");
    }
    const ArchiveIndex& index = *archive->index;
    const ExtractionPlan& plan = *archive->plan;
    kelvarin_check_result found{};
    found.struct_size = sizeof found;
    const ArchiveCounts counts = count_archive(index, plan);
    found.entries = counts.entries;
    found.folders = counts.folders;
    found.files = counts.files;
    found.total_bytes = counts.bytes;
    found.unused_bytes = counts.unused;
    found.unreachable = counts.unreachable;
    found.case_twins = plan.case_twins().size();
    for (const ListedEntry& listed : archive->listing) {
      const PlannedEntry& planned = plan[listed.entry];
      if (planned.fate == Fate::left_out) {
        ++found.left_out;
        if (planned.refusal == Refusal::damaged) ++found.damaged;
        continue;
      }
      // Data inside the index are the index's own bytes: the archive is damaged.
      if (!index.is_folder(listed.entry) && index.node(listed.entry).file_size > 0 &&
          *index.data_position(listed.entry) < index.index_end()) {
        ++found.data_inside_index;
      }
    }
    found.sound = found.left_out == 0 && found.data_inside_index == 0;
    const std::size_t known = result->struct_size < sizeof found ? result->struct_size : sizeof found;
    std::memcpy(static_cast<void*>(result), &found, known);
    result->struct_size = known;
    return succeed(archive);
  });
}

}  // extern "C"
