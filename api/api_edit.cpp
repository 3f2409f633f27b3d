// Packing and the edits through the C API, with brq's own code: a folder
// scanned into a new archive, and an archive changed in place of a
// rebuild. The handle then has the new archive open.
#include "api/api_handle.h"
#include "extract/archive_edit.h"
#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "names/entry_pattern.h"
#include "names/utf8.h"
#include "packing/archive_file.h"
#include "packing/disk_trees.h"
#include "packing/folder_source.h"
#include "packing/taken_archive.h"
#include "platform/file_system.h"

namespace kelvarin::api {
namespace {

// The caller's function, told of what a pack or an edit does; once it asks
// to stop, the next file read fails with stop_asked() and nothing is
// written.
class Teller final : public WriteProgress {
 public:
  Teller(kelvarin_event_fn on_event, void* user) : on_event_(on_event), user_(user) {}

  void totals(const ProgressTotals& totals) {
    progress_.files_total = totals.files;
    progress_.bytes_total = totals.bytes;
  }
  void file_started(std::uint64_t) override {
    ++progress_.files_done;
    tell(blank(KELVARIN_EVENT_PROGRESS));
  }
  void advance(std::uint64_t bytes) override { progress_.bytes_done += bytes; }

  void told(kelvarin_event_kind kind, const std::string& path, const std::string& message, bool is_folder = false,
            std::uint64_t inside = 0, const std::string& to = {}) {
    kelvarin_event event = blank(kind);
    event.path = path.c_str();
    event.path_size = path.size();
    event.message = message.c_str();
    event.entry_kind = is_folder ? KELVARIN_FOLDER : KELVARIN_FILE;
    event.inside_count = inside;
    event.to = to.c_str();
    event.to_size = to.size();
    tell(event);
  }
  void problem(kelvarin_event_kind kind, const Error& error) {
    kelvarin_event event = blank(kind);
    const std::string message = error.path() + ": " + cause_of(error);
    event.path = error.path().c_str();
    event.path_size = error.path().size();
    event.message = message.c_str();
    event.error = kind_of(error);
    tell(event);
  }
  void change(const EditChange& change) {
    static constexpr kelvarin_event_kind kKinds[] = {KELVARIN_EVENT_ADDED, KELVARIN_EVENT_REMOVED,
                                                     KELVARIN_EVENT_CHANGED, KELVARIN_EVENT_MOVED};
    told(kKinds[static_cast<int>(change.kind)], change.path, {}, change.is_folder, change.entries, change.to);
  }
  bool stopped() const { return stopped_; }

 private:
  kelvarin_event blank(kelvarin_event_kind kind) const {
    kelvarin_event event = progress_;
    event.kind = kind;
    event.path = "";
    event.message = "";
    event.to = "";
    return event;
  }
  void tell(const kelvarin_event& event) {
    if (stopped_ || on_event_ == nullptr) return;
    if (on_event_(user_, &event) != 0) stopped_ = true;
  }

  kelvarin_event_fn on_event_;
  void* user_;
  kelvarin_event progress_{};
  bool stopped_ = false;
};

// A tree's files, whose reading fails once the caller asked to stop.
class StoppableFiles final : public TreeFiles {
 public:
  StoppableFiles(TreeFiles& files, const Teller& teller) : files_(files), teller_(teller) {}
  Error open(std::size_t file, platform::FileHandle& handle) override {
    if (teller_.stopped()) return Error::because("stopped by the caller");
    return files_.open(file, handle);
  }
  void read_ahead(std::size_t file) override { files_.read_ahead(file); }
  std::uint64_t start(std::size_t file) const override { return files_.start(file); }
  std::string path_of(std::size_t file) const override { return files_.path_of(file); }

 private:
  TreeFiles& files_;
  const Teller& teller_;
};

bool utf8_or_null(const char* text) { return text == nullptr || is_utf8(text); }

kelvarin_kind refused(kelvarin_archive* archive, const EditRefusal& refusal) {
  kelvarin_kind kind = KELVARIN_MISUSE;
  if (refusal.kind == EditRefusal::Kind::not_found) kind = KELVARIN_NOT_FOUND;
  if (refusal.kind == EditRefusal::Kind::name_taken || refusal.kind == EditRefusal::Kind::case_twin) {
    kind = KELVARIN_NAME_TAKEN;
  }
  if (refusal.kind == EditRefusal::Kind::not_a_folder) kind = KELVARIN_NOT_A_FOLDER;
  return fail(archive, kind, refusal_text(refusal) + "; nothing changed");
}

// What the puts of add and sync found on disk that can't go in as it is:
// told, and true where it refuses the edit.
bool told_problems(const ScanReport& report, Teller& teller) {
  for (const Error& problem : report.left_out) teller.problem(KELVARIN_EVENT_LEFT_OUT, problem);
  for (const Error& problem : report.unportable) teller.problem(KELVARIN_EVENT_FAILED, problem);
  return !report.unportable.empty();
}

std::string not_on_windows(std::size_t count, const char* what) {
  return std::string(what) + std::to_string(count) + (count == 1 ? " entry" : " entries") +
         " would not come back as they are on Windows";
}

// One edit: the archive the handle has open taken, loaded, changed by
// `change` (which answers the status so far, or a failure that changes
// nothing), and written in its place.
using Change = std::function<kelvarin_kind(ArchiveEdit&, std::vector<EditChange>&, Teller&)>;

kelvarin_kind edit_archive(kelvarin_archive* archive, const kelvarin_edit_options* given, const Change& change) {
  if (const kelvarin_kind closed = need_open(archive); closed != KELVARIN_OK) return closed;
  kelvarin_edit_options options;
  kelvarin_edit_options_init(&options);
  if (!copy_options(given, options)) return fail(archive, KELVARIN_MISUSE, "the options' struct_size is not set");
  if (archive->opened_path.empty()) {
    return fail(archive, KELVARIN_MISUSE, "only an archive opened from a path can be changed");
  }
  const std::string path = archive->opened_path;
  if (names_a_link(path)) {
    return fail(archive, KELVARIN_MISUSE, line_words(unable_to_change(path, "it is a symbolic link; name the file it leads to")));
  }
  // The handle lets the archive go (Windows replaces no file held open),
  // and has it, or what took its place, open again at the end.
  archive->close();
  const auto reopened = [&](kelvarin_kind kind) {
    std::string message(kelvarin_error_message(archive));
    const kelvarin_kind opened = open_on(archive, path);
    if (opened != KELVARIN_OK) return opened;
    return kind == KELVARIN_OK ? succeed(archive) : fail(archive, kind, message);
  };
  std::optional<OpenedIndex> opened;
  EditTarget target;
  std::string problem;
  if (const Error error = open_to_change(path, options.dry_run == 0, opened, target, problem); !error.ok()) {
    return reopened(fail(archive, error.is_unusable() || error.is_ended_early() ? KELVARIN_BAD_ARCHIVE : kind_of(error),
                         line_words(problem)));
  }
  Teller teller(options.on_event, options.user);
  std::uint64_t left_out = 0;
  Result<ArchiveEdit> loaded = ArchiveEdit::load(
      std::move(opened->value()), [&](const ArchiveIndex& index, const EntryVisit& entry, const PlannedEntry& planned) {
        ++left_out;
        teller.told(KELVARIN_EVENT_LEFT_OUT, listed_path(entry), one_line(left_out_line(index, entry, planned)),
                    entry.is_folder, planned.inside());
      });
  if (!loaded.ok()) return reopened(fail(archive, loaded.error()));
  ArchiveEdit& edit = loaded.value();
  if (left_out > 0 && options.drop_damaged == 0) {
    return reopened(fail(archive, KELVARIN_PARTIAL,
                         "Nothing changed: " + std::to_string(left_out) +
                             (left_out == 1 ? " entry is" : " entries are") + " left out by an extraction"));
  }
  edit.set_portable(options.allow_unportable == 0);
  std::vector<EditChange> changes;
  succeed(archive);
  const kelvarin_kind status = change(edit, changes, teller);
  if (status != KELVARIN_OK && status != KELVARIN_PARTIAL) return reopened(status);
  for (const EditChange& made : changes) teller.change(made);
  if (teller.stopped()) return reopened(fail(archive, KELVARIN_STOPPED, "stopped by the caller; nothing changed"));
  if (options.dry_run != 0 || (changes.empty() && left_out == 0)) return reopened(status);
  Result<std::uint64_t> size = edit.planned_size();
  if (!size.ok()) return reopened(fail(archive, size.error()));
  teller.totals({1, size.value()});
  const TemporaryName temp(target.name, false);
  const platform::NativeString temp_name(temp.text().begin(), temp.text().end());
  const Error error = edit.write(platform::os_file_system(), target, temp_name,
                                 [&](std::uint64_t bytes) { teller.advance(bytes); });
  if (!error.ok()) {
    return reopened(fail(archive, kind_of(error),
                         line_words(unable_to_change(path, cause_of(error) + (error.path().empty()
                                                                                  ? std::string()
                                                                                  : " (" + error.path() + ")")))));
  }
  return reopened(status);
}

// add and sync: every tree scanned before anything is put, so that a name
// that refuses the edit is found before the first byte is read.
kelvarin_kind put_from_disk(kelvarin_archive* archive, const std::vector<std::string>& paths, bool sync,
                            const kelvarin_edit_options* given) {
  kelvarin_edit_options options;
  kelvarin_edit_options_init(&options);
  if (!copy_options(given, options)) return fail(archive, KELVARIN_MISUSE, "the options' struct_size is not set");
  DiskScan how{options.dereference != 0, options.allow_unportable == 0, {}};
  if (!string_list(options.excludes, options.exclude_count, how.excludes)) {
    return fail(archive, KELVARIN_MISUSE, "an exclusion is a null pointer");
  }
  if (!utf8_or_null(options.directory)) return fail(archive, KELVARIN_MISUSE, "the directory is not UTF-8");
  const std::string directory = options.directory != nullptr ? options.directory : "";
  DiskTrees disk;
  return edit_archive(archive, given, [&](ArchiveEdit& edit, std::vector<EditChange>& changes, Teller& teller) {
    ScanReport report;
    std::vector<DiskPut> puts = scan_puts(paths, directory, sync, how, disk, report);
    if (told_problems(report, teller)) {
      return fail(archive, KELVARIN_PARTIAL, not_on_windows(report.unportable.size(), "Nothing changed: "));
    }
    // sync of a folder that can't be read would empty the archive.
    if (sync && puts.empty()) return fail(archive, KELVARIN_NOT_FOUND, "Nothing changed: " + paths[0] + " can't be read");
    EditRefusal refusal;
    const Error error = put_all(edit, puts, changes, refusal);
    if (!error.ok()) {
      return fail(archive, kind_of(error), put_failure_text(archive->index->path(), error));
    }
    if (refusal.refused()) return refused(archive, refusal);
    if (report.left_out.empty()) return KELVARIN_OK;
    return fail(archive, KELVARIN_PARTIAL, std::to_string(report.left_out.size()) + " paths were left out");
  });
}

}  // namespace
}  // namespace kelvarin::api

using namespace kelvarin;
using namespace kelvarin::api;

extern "C" {

kelvarin_kind kelvarin_pack(kelvarin_archive* archive, const char* archive_path, const char* folder,
                            const char* const* paths, size_t path_count, const kelvarin_pack_options* given) {
  if (archive == nullptr) return KELVARIN_MISUSE;
  return guarded(archive, [&] {
    kelvarin_pack_options options;
    kelvarin_pack_options_init(&options);
    if (!copy_options(given, options)) return fail(archive, KELVARIN_MISUSE, "the options' struct_size is not set");
    std::vector<std::string> chosen_paths;
    std::vector<std::string> excludes;
    if (archive_path == nullptr || folder == nullptr || !string_list(paths, path_count, chosen_paths) ||
        !string_list(options.excludes, options.exclude_count, excludes)) {
      return fail(archive, KELVARIN_MISUSE, "an archive, folder, path or exclusion is a null pointer");
    }
    if (!is_utf8(archive_path) || !is_utf8(folder)) return fail(archive, KELVARIN_MISUSE, "a path is not UTF-8");
    if (chosen_paths.empty()) chosen_paths.emplace_back(".");
    Result<ChosenPaths> chosen = ChosenPaths::of(chosen_paths);
    if (!chosen.ok()) return fail(archive, KELVARIN_MISUSE, "Nothing written: " + cause_of(chosen.error()));
    platform::Folder root;
    if (const Error error = platform::open_folder(folder, root); !error.ok()) {
      return fail(archive, kind_of(error), std::string(folder) + " is not a folder: " + cause_of(error));
    }
    ArchivePlace place;
    std::string problem;
    if (const Error placed = find_archive_place(archive_path, place, problem); !placed.ok()) {
      return fail(archive, kind_of(placed), line_words(problem));
    }
    FolderSource files(std::move(root), folder);
    ScanReport report;
    const SelectionMatcher matcher({{}, excludes, false});
    const Error scanned =
        files.scan({options.allow_unportable == 0, options.dereference != 0, excludes.empty() ? nullptr : &matcher},
                   chosen.value(), report);
    if (!scanned.ok()) return fail(archive, kind_of(scanned), "Unable to read " + std::string(folder) + ": " + cause_of(scanned));
    // A path that is not there makes another archive than the one asked for.
    if (!report.missing.empty()) {
      const Error& missing = report.missing.front();
      return fail(archive, KELVARIN_NOT_FOUND, missing.path() + ": " + cause_of(missing) + "; nothing written");
    }
    if (files.holds_folder(place.identity)) {
      return fail(archive, KELVARIN_MISUSE,
                  std::string(archive_path) + " lies inside " + folder + ", so it would be packed into its next version; write it elsewhere");
    }
    Teller teller(options.on_event, options.user);
    if (told_problems(report, teller)) {
      return fail(archive, KELVARIN_PARTIAL, not_on_windows(report.unportable.size(), "Nothing written: "));
    }
    Result<ArchiveLayout> laid_out = lay_out(files);
    if (!laid_out.ok()) return fail(archive, laid_out.error());
    teller.totals(progress_totals(laid_out.value()));
    StoppableFiles stoppable(files, teller);
    Error error = write_archive_file(laid_out.value(), stoppable, place.folder, place.name, teller);
    if (teller.stopped()) return fail(archive, KELVARIN_STOPPED, "stopped by the caller; nothing written");
    if (!error.ok()) {
      if (error.path().empty()) error.during(Error::Step::write).on(archive_path);
      return fail(archive, kind_of(error), error.message());
    }
    if (const kelvarin_kind opened = open_on(archive, archive_path); opened != KELVARIN_OK) return opened;
    if (report.left_out.empty()) return KELVARIN_OK;
    return fail(archive, KELVARIN_PARTIAL, std::to_string(report.left_out.size()) + " entries were left out");
  });
}

kelvarin_kind kelvarin_add(kelvarin_archive* archive, const char* const* paths, size_t path_count,
                           const kelvarin_edit_options* options) {
  return guarded(archive, [&] {
    std::vector<std::string> list;
    if (!string_list(paths, path_count, list) || list.empty()) {
      return fail(archive, KELVARIN_MISUSE, "no paths to add, or one is a null pointer");
    }
    return put_from_disk(archive, list, false, options);
  });
}

kelvarin_kind kelvarin_sync(kelvarin_archive* archive, const char* folder, const kelvarin_edit_options* options) {
  return guarded(archive, [&] {
    if (folder == nullptr || !is_utf8(folder)) return fail(archive, KELVARIN_MISUSE, "no folder, or not UTF-8");
    return put_from_disk(archive, {folder}, true, options);
  });
}

kelvarin_kind kelvarin_remove(kelvarin_archive* archive, const char* const* paths, size_t path_count,
                              const kelvarin_edit_options* options) {
  return guarded(archive, [&] {
    SelectionRequest request;
    if (!string_list(paths, path_count, request.paths) || request.paths.empty()) {
      return fail(archive, KELVARIN_MISUSE, "no paths to remove, or one is a null pointer");
    }
    return edit_archive(archive, options, [&](ArchiveEdit& edit, std::vector<EditChange>& changes, Teller& teller) {
      std::vector<std::size_t> missing;
      edit.remove(request, changes, missing);
      for (std::size_t number : missing) {
        teller.told(KELVARIN_EVENT_FAILED, request.paths[number],
                    nothing_named(request.paths[number], edit.index().path()));
      }
      if (missing.empty()) return KELVARIN_OK;
      return fail(archive, KELVARIN_PARTIAL, std::to_string(missing.size()) + " paths named nothing");
    });
  });
}

kelvarin_kind kelvarin_move(kelvarin_archive* archive, const char* from, const char* to,
                            const kelvarin_edit_options* options) {
  return guarded(archive, [&] {
    if (from == nullptr || to == nullptr) return fail(archive, KELVARIN_MISUSE, "no path to move (a null pointer)");
    return edit_archive(archive, options, [&](ArchiveEdit& edit, std::vector<EditChange>& changes, Teller&) {
      const EditRefusal refusal = edit.move(from, to, changes);
      return refusal.refused() ? refused(archive, refusal) : KELVARIN_OK;
    });
  });
}

}  // extern "C"
