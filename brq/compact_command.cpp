// brq compact: an archive rewritten as brq pack would write its
// extraction, from the tree its plan makes with the bytes read from the
// archive itself, and put in place of the old one in one step.
#include <cstdint>
#include <optional>

#include "brq/commands.h"
#include "brq/progress_line.h"
#include "brq/run_brq.h"
#include "brq/text_output.h"
#include "extract/extracted_tree.h"
#include "packing/archive_file.h"
#include "packing/taken_archive.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

std::string plural(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? one : many);
}

}  // namespace

int compact_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  // The new archive takes the name of the file that was read, and nothing
  // else's: not a link's (name the file it leads to), not one put there
  // since; and it holds the archive as the edits do, so that none of their
  // changes is lost under it.
  if (names_a_link(archive)) {
    print(streams.err,
          error_line(archive + " is a symbolic link; name the file it leads to, so nothing was changed"));
    return kStatusUnusable;
  }
  std::optional<OpenedIndex> opened;
  EditTarget target;
  if (std::string problem; !open_to_change(archive, true, opened, target, problem).ok()) {
    print(streams.err, problem);
    return kStatusUnusable;
  }
  const ArchiveIndex& index = opened->value();
  const std::uint64_t old_size = index.archive_size();

  // Names as they are: what a folder that keeps case would be given. Each
  // entry left out is named as check names it.
  Result<ExtractionPlan> planned = make_plan(index, nullptr, CaseRule::exact(), streams);
  if (!planned.ok()) return kStatusUnusable;
  std::uint64_t left_out = 0;
  Result<ExtractedTree> tree =
      extracted_tree(index, planned.value(), [&](const EntryVisit& entry, const PlannedEntry& planned_entry) {
        print(streams.err, error_line(entry_description(entry, PathForm::listed) + ": " +
                                      left_out_reason(index, entry.entry, planned_entry, &entry) +
                                      inside_count(planned_entry.inside())));
        left_out += 1 + std::uint64_t{planned_entry.inside()};
      });
  if (!tree.ok()) return out_of_memory(streams.err);
  if (left_out > 0 && !line.drop_damaged) {
    print(streams.err, error_line("Nothing changed: " + plural(left_out, " entry", " entries") +
                                  " an extraction leaves out would be lost; --drop-damaged drops them"));
    return kStatusEntriesFailed;
  }
  const std::vector<SourceNode> top_level{std::move(tree.value().top)};
  Result<ArchiveLayout> laid_out = lay_out(top_level);
  if (!laid_out.ok()) {
    print(streams.err, error_line("Unable to compact " + archive + ": " + cause_of(laid_out.error())));
    return kStatusUnusable;
  }
  const ArchiveLayout& layout = laid_out.value();
  ProgressLine progress(streams.err, progress_enabled(line.progress, platform::is_terminal(streams.err), false),
                        progress_totals(layout), line.progress == ProgressChoice::always);
  ArchiveData data(index);
  // Windows replaces no file held open: the old archive is let go once read.
  const Error error =
      write_archive_file(layout, data, target.folder, target.name, progress, [&] { opened.reset(); });
  progress.finish();
  if (!error.ok()) {
    print(streams.err, error_line("Unable to compact " + archive + ": " + cause_of(error) + "; it is left as it was"));
    return kStatusUnusable;
  }
  const std::size_t files = layout.data.size();
  TextOutput out(streams);
  out.add("Compacted " + std::to_string(layout.entries.size()) + " entries (" + plural(files, " file, ", " files, ") +
          plural(layout.entries.size() - files, " folder), ", " folders), ") + std::to_string(layout.total_size) +
          " bytes, " + std::to_string(old_size) + " before" +
          (left_out == 0 ? std::string() : ", " + std::to_string(left_out) + " dropped") + ": " +
          one_line(archive) + "\n");
  return out.finish() && left_out == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
