// brq add, rm, mv and sync: an archive changed in place of a rebuild. The
// archive is taken for the edit (locked, so that two edits never lose one
// another's change), its tree loaded, changed, and written beside it with
// the unchanged data where they were, then put in its place in one step.
#include <memory>
#include <optional>

#include "brq/commands.h"
#include "brq/folder_source.h"
#include "brq/json_text.h"
#include "brq/progress_line.h"
#include "brq/run_brq.h"
#include "brq/taken_archive.h"
#include "brq/text_output.h"
#include "extract/archive_edit.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// Files named on add's command line, each read where it was found and
// checked to be the file found there.
class NamedFiles final : public FileSource {
 public:
  struct Named {
    std::string path;  // as typed, for messages
    platform::FileIdentity identity;
  };

  std::size_t add(Named named) {
    named_.push_back(std::move(named));
    return named_.size() - 1;
  }

  Error open(const SourceNode& node, platform::FileHandle& file) override {
    const Named& named = named_[node.disk_file];
    // A link named with -h is followed: what it leads to was found.
    Error error = platform::open_archive(named.path, file);
    platform::FileIdentity now;
    if (error.ok()) error = platform::identify(file, now);
    if (error.ok() && !now.unchanged_since(named.identity)) error = Error::because("it changed after it was found");
    if (!error.ok()) error.during(Error::Step::read).on(named.path);
    return error;
  }
  std::string path_of(const SourceNode& node) const override { return named_[node.disk_file].path; }

 private:
  std::vector<Named> named_;
};

// Whatever a tree put into the archive reads through: a folder scanned or
// the files named. Each SourceNode knows only its number in its own
// source, so each tree is put with its own.
struct DiskTrees {
  std::vector<std::unique_ptr<FolderSource>> folders;
  NamedFiles files;
};

// The scanned tree less what `excludes` names, with all it holds.
void exclude(SourceNode& folder, const std::string& path, const SelectionMatcher& matcher) {
  std::erase_if(folder.children, [&](const SourceNode& child) {
    return matcher.excluded(child.name, path.empty() ? child.name : path + "/" + child.name);
  });
  for (SourceNode& child : folder.children) {
    if (child.is_folder) exclude(child, path.empty() ? child.name : path + "/" + child.name, matcher);
  }
}

// What a PATH of add or sync's folder is as a tree: a folder scanned, or
// one file. Problems go into `report`; false when nothing can be put.
bool scan_disk(const std::string& disk_path, const std::string& archive_path, const CommandLine& line,
               DiskTrees& disk, SourceNode& tree, FileSource*& source, ScanReport& report) {
  const ScanOptions options{!line.allow_unportable, line.dereference};
  platform::Folder folder;
  platform::FileIdentity found;
  platform::Folder parent;
  std::string name;
  Error error = platform::open_parent_folder(disk_path, parent, name);
  platform::NativeString native;
  platform::native_name(name, native);
  if (error.ok() && !name.empty()) error = platform::identify_in(parent, native, found);
  const bool follow = line.dereference || name.empty() || !found.is_link;
  if (error.ok() && follow && platform::open_folder(disk_path, folder).ok()) {
    auto& scanned_source = disk.folders.emplace_back(std::make_unique<FolderSource>(std::move(folder), disk_path));
    Result<SourceNode> scanned = scanned_source->scan(options, report);
    if (!scanned.ok()) {
      Error failed = scanned.error();
      report.left_out.push_back(failed.on(disk_path));
      return false;
    }
    tree = std::move(scanned.value());
    if (!line.excludes.empty()) exclude(tree, archive_path, SelectionMatcher({{}, line.excludes, false}));
    source = scanned_source.get();
    return true;
  }
  if (error.ok() && found.is_link && !line.dereference) {
    error = Error::because("it is a symbolic link (-h follows it)");
  } else if (error.ok() && found.is_link) {
    error = platform::identify_target(parent, native, found);
  }
  if (error.ok() && !found.is_regular) error = Error::because("it is neither a folder nor a regular file");
  if (error.ok() && found.size >= (std::uint64_t{1} << 31)) {
    error = Error::because("it is 2 GiB or larger, more than an archive can hold");
  }
  if (!error.ok()) {
    report.left_out.push_back(error.on(disk_path));
    return false;
  }
  tree = source_file(name, {});
  tree.size = found.size;
  tree.disk_file = disk.files.add({disk_path, found});
  source = &disk.files;
  return true;
}

std::string refusal_text(const EditRefusal& refusal) {
  const std::string path = refusal.path.empty() ? "/" : refusal.path;
  switch (refusal.kind) {
    case EditRefusal::Kind::not_found:
      return "No entry named " + path;
    case EditRefusal::Kind::is_root:
      return "The top of the archive can't be moved";
    case EditRefusal::Kind::name_taken:
      return path + " is there already";
    case EditRefusal::Kind::not_a_folder:
      return path + " is a file, not a folder";
    case EditRefusal::Kind::into_itself:
      return "Unable to move " + refusal.other + " into itself";
    case EditRefusal::Kind::bad_name:
    case EditRefusal::Kind::unportable:
      return path + ": " + describe(refusal.name_problem) +
             (refusal.kind == EditRefusal::Kind::unportable ? " (--allow-unportable stores it)" : "");
    case EditRefusal::Kind::name_too_long:
      return path + ": the name is longer than 1024 bytes";
    case EditRefusal::Kind::not_utf8:
      return path + ": the name is not UTF-8";
    case EditRefusal::Kind::case_twin:
      return path + ": differs only in case from " + refusal.other +
             ", and on Windows only one of them would survive (--allow-unportable stores it)";
    case EditRefusal::Kind::too_deep:
      return path + ": " + refusal.other + " would lie inside more than " + std::to_string(kMaxFolderDepth) +
             " folders, more than an extraction takes";
    case EditRefusal::Kind::path_too_long:
      return path + ": " + refusal.other + " would be longer than " + std::to_string(kMaxPathBytes) +
             " bytes, more than an extraction takes";
    case EditRefusal::Kind::none:
      break;
  }
  return path;
}

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
  // add and sync: every tree scanned before anything is put, so that a
  // name that refuses the edit is found before the first byte is read.
  struct Put {
    std::string archive_path;
    SourceNode tree;
    FileSource* source = nullptr;
  };
  std::vector<Put> puts;
  ScanReport report;
  std::vector<std::string> paths(line.operands.begin() + 1, line.operands.end());
  for (const std::string& path : paths) {
    Put put;
    const bool sync = line.command == Command::sync;
    put.archive_path = sync ? std::string() : normalise_entry_path(path);
    std::string disk_path = path;
    if (!sync && !line.directory.empty()) disk_path = line.directory + "/" + path;
    if (scan_disk(disk_path, put.archive_path, line, disk, put.tree, put.source, report)) {
      puts.push_back(std::move(put));
    }
  }
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
  for (Put& put : puts) {
    EditRefusal refusal;
    Error error = edit.put(put.archive_path, std::move(put.tree), *put.source, changes, refusal);
    if (!error.ok()) {
      print(streams.err, error_line("Unable to change " + archive + ": " + cause_of(error) +
                                    (error.path().empty() ? "" : " (" + error.path() + ")") + "; nothing changed"));
      return -1;
    }
    if (refusal.refused()) {
      print(streams.err, error_line(refusal_text(refusal) + "; nothing changed"));
      return -1;
    }
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
  if (!open_to_change(archive, !line.dry_run, opened, target, streams)) return kStatusUnusable;
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
