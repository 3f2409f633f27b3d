// brq add, rm, mv and sync: an archive changed in place of a rebuild. The
// archive is taken for the edit (locked, so that two edits never lose one
// another's change), its tree loaded, changed, and written beside it with
// the unchanged data where they were, then put in its place in one step.
#include <memory>
#include <optional>

#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/progress_line.h"
#include "brq/run_brq.h"
#include "brq/text_output.h"
#include "extract/archive_edit.h"
#include "packing/disk_trees.h"
#include "packing/taken_archive.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

const char* change_word(EditChange::Kind kind) {
  switch (kind) {
    case EditChange::Kind::added:
      return "added";
    case EditChange::Kind::removed:
      return "removed";
    case EditChange::Kind::changed:
      return "changed";
    case EditChange::Kind::moved:
      break;
  }
  return "moved";
}

bool print_changes(const std::vector<EditChange>& changes, const CommandLine& line, const Streams& streams) {
  TextOutput out(streams);
  JsonWriter document;
  if (line.json) {
    document.begin_object().key("changes").begin_array(JsonWriter::Items::one_per_line_open);
    out.add(document.take());
  }
  for (const EditChange& change : changes) {
    if (line.json) {
      document.begin_object().key("change").string(change_word(change.kind)).path("path", change.path);
      if (change.kind == EditChange::Kind::moved) document.path("to", change.to);
      if (change.is_folder) document.key("entries").number(change.entries);
      out.add(document.end_object().take());
      continue;
    }
    if (line.quiet) continue;
    const std::string path = change.path.empty() ? "/" : one_line(change.path);
    std::string text;
    switch (change.kind) {
      case EditChange::Kind::moved:
        text = path + " -> " + one_line(change.to);
        break;
      case EditChange::Kind::changed:
        text = "~ " + path;
        break;
      default:
        text = (change.kind == EditChange::Kind::added ? "+ " : "- ") + path;
        if (change.is_folder) text += "/" + entries_text(change.entries);
    }
    out.add(text + "\n");
  }
  if (line.json) out.add(document.end_array().end_document().take());
  return out.finish();
}

// The edit the command asks for, applied to `edit`. The status so far, or
// -1 when nothing may change.
int apply(const CommandLine& line, ArchiveEdit& edit, DiskTrees& disk, std::vector<EditChange>& changes,
          const Streams& streams) {
  const std::string& archive = line.operands[0];
  int status = kStatusSuccess;
  if (line.command == Command::rm) {
    const SelectionRequest request = selection_request(line, 1);
    std::vector<std::size_t> missing;
    edit.remove(request, changes, missing);
    for (std::size_t number : missing) {
      print(streams.err, error_line(nothing_named(request.paths[number], archive)));
      status = kStatusEntriesFailed;
    }
    return status;
  }
  if (line.command == Command::mv) {
    const EditRefusal refusal = edit.move(line.operands[1], line.operands[2], changes);
    if (!refusal.refused()) return status;
    print(streams.err, error_line(refusal_text(refusal) + "; nothing changed"));
    return -1;
  }
  // add and sync: every tree scanned before anything is put.
  ScanReport report;
  const std::vector<std::string> paths(line.operands.begin() + 1, line.operands.end());
  const DiskScan how{line.dereference, !line.allow_unportable, line.excludes};
  std::vector<DiskPut> puts = scan_puts(paths, line.directory, line.command == Command::sync, how, disk, report);
  for (const Error& problem : report.left_out) print(streams.err, error_line(problem.path() + ": " + cause_of(problem)));
  for (const Error& problem : report.unportable) {
    print(streams.err, error_line(problem.path() + ": " + cause_of(problem)));
  }
  if (!report.unportable.empty()) {
    const std::size_t count = report.unportable.size();
    print(streams.err, error_line("Nothing changed: " + std::to_string(count) + (count == 1 ? " entry" : " entries") +
                                  " would not come back as they are on Windows"));
    return -1;
  }
  // sync of a folder that can't be read would empty the archive.
  if (line.command == Command::sync && puts.empty()) return -1;
  if (!report.left_out.empty()) status = kStatusEntriesFailed;
  EditRefusal refusal;
  const Error error = put_all(edit, puts, changes, refusal);
  if (!error.ok()) {
    print(streams.err, error_line(put_failure_text(archive, error)));
    return -1;
  }
  if (refusal.refused()) {
    print(streams.err, error_line(refusal_text(refusal) + "; nothing changed"));
    return -1;
  }
  return status;
}

}  // namespace

int edit_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  const auto unable = [&](const std::string& cause) {
    print(streams.err, unable_to_change(archive, cause));
    return kStatusUnusable;
  };
  // Only a file is replaced: a link's target is the user's to name.
  if (names_a_link(archive)) return unable("it is a symbolic link; name the file it leads to");
  std::optional<OpenedIndex> opened;
  EditTarget target;
  if (std::string problem; !open_to_change(archive, !line.dry_run, opened, target, problem).ok()) {
    print(streams.err, problem);
    return kStatusUnusable;
  }
  std::uint64_t left_out = 0;
  Result<ArchiveEdit> loaded = ArchiveEdit::load(std::move(opened->value()), [&](const ArchiveIndex& index,
                                                                                const EntryVisit& entry,
                                                                                const PlannedEntry& planned) {
    ++left_out;
    const std::string where = entry_description(entry, PathForm::listed) + " in " + archive + ": ";
    print(streams.err, error_line(planned.refusal == Refusal::damaged
                                      ? "Damaged " + where + describe_damage(index, entry.entry) +
                                            inside_count(planned.inside())
                                      : "Skipping " + where + left_out_reason(index, entry.entry, planned, &entry) +
                                            inside_count(planned.inside())));
  });
  if (!loaded.ok()) return out_of_memory(streams.err);
  ArchiveEdit& edit = loaded.value();
  if (left_out > 0 && !line.drop_damaged) {
    print(streams.err, error_line("Nothing changed: " + std::to_string(left_out) +
                                  (left_out == 1 ? " entry is" : " entries are") +
                                  " left out by an extraction; --drop-damaged leaves them out of the archive"));
    return kStatusEntriesFailed;
  }
  edit.set_portable(!line.allow_unportable);
  DiskTrees disk;
  std::vector<EditChange> changes;
  const int status = apply(line, edit, disk, changes, streams);
  if (status < 0) return kStatusEntriesFailed;
  if (!print_changes(changes, line, streams)) return kStatusEntriesFailed;
  if (line.dry_run || (changes.empty() && left_out == 0)) return status;

  Result<std::uint64_t> size = edit.planned_size();
  if (!size.ok()) return unable(cause_of(size.error()));
  ProgressLine progress(streams.err, progress_enabled(line.progress, platform::is_terminal(streams.err), false),
                        {1, size.value()}, line.progress == ProgressChoice::always);
  const TemporaryName temp(target.name, false);
  const platform::NativeString temp_name(temp.text().begin(), temp.text().end());
  Error error = edit.write(platform::os_file_system(), target, temp_name,
                           [&](std::uint64_t bytes) { progress.advance(bytes); });
  progress.finish();
  if (!error.ok()) {
    return unable(cause_of(error) + (error.path().empty() ? std::string() : " (" + error.path() + ")"));
  }
  return status;
}

}  // namespace kelvarin::brq
