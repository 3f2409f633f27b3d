// brq compact: an archive rewritten as brq pack would write its
// extraction, from the tree its plan makes with the bytes read from the
// archive itself, and put in place of the old one in one step.
#include <cstdint>
#include <optional>

#include "brq/archive_file.h"
#include "brq/commands.h"
#include "brq/run_brq.h"
#include "brq/text_output.h"
#include "extract/extracted_tree.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// Each entry the plan leaves out, named as check names it; and how many
// entries go with them.
class LeftOut final : public PlanVisitor {
 public:
  LeftOut(const ArchiveIndex& index, const Streams& streams) : index_(index), streams_(streams) {}
  bool enter_folder(const EntryVisit&, const PlannedEntry&) override { return true; }
  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate != Fate::left_out) return;
    print(streams_.err, error_line(entry_description(entry, PathForm::listed) + ": " +
                                   left_out_reason(index_, entry.entry, planned, &entry) +
                                   inside_count(planned.inside())));
    entries += 1 + std::uint64_t{planned.inside()};
  }
  std::uint64_t entries = 0;

 private:
  const ArchiveIndex& index_;
  const Streams& streams_;
};

std::string plural(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? one : many);
}

}  // namespace

int compact_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  std::optional<OpenedIndex> opened = open_index(archive, streams);
  if (!opened->ok()) return kStatusUnusable;
  const ArchiveIndex& index = opened->value();
  const std::uint64_t old_size = index.archive_size();

  // The new archive takes the name of the file that was read, and nothing
  // else's: not a link's (name the file it leads to), not one put there since.
  platform::Folder folder;
  std::string name;
  Error error = platform::open_parent_folder(archive, folder, name);
  platform::NativeString native_name;
  platform::native_name(name, native_name);
  platform::FileIdentity there, read;
  if (error.ok()) error = platform::identify_in(folder, native_name, there);
  if (error.ok()) error = platform::identify(index.archive(), read);
  if (!error.ok()) {
    print(streams.err, error_line("Unable to write " + archive + ": " + cause_of(error)));
    return kStatusUnusable;
  }
  if (there.is_link || !there.same_object(read)) {
    print(streams.err, error_line(archive + (there.is_link ? " is a symbolic link; name the file it leads to"
                                                           : " was replaced while it was read") +
                                  ", so nothing was changed"));
    return kStatusUnusable;
  }

  // Names as they are: what a folder that keeps case would be given.
  Result<ExtractionPlan> planned = make_plan(index, nullptr, CaseRule::exact(), streams);
  if (!planned.ok()) return kStatusUnusable;
  LeftOut left_out(index, streams);
  planned.value().replay(index, left_out);
  if (left_out.entries > 0 && !line.drop_damaged) {
    print(streams.err, error_line("Nothing changed: " + plural(left_out.entries, " entry", " entries") +
                                  " an extraction leaves out would be lost; --drop-damaged drops them"));
    return kStatusEntriesFailed;
  }
  Result<ExtractedTree> tree = extracted_tree(index, planned.value());
  if (!tree.ok()) return out_of_memory(streams.err);
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
  error = write_archive_file(layout, data, folder, name, progress, [&] { opened.reset(); });
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
          (left_out.entries == 0 ? std::string() : ", " + std::to_string(left_out.entries) + " dropped") + ": " +
          one_line(archive) + "\n");
  return out.finish() && left_out.entries == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
