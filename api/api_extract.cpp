// Extraction through the C API: the engine's run, its facts told to the
// caller's function as events in the walk's order, in the programs' words.
#include "api/api_handle.h"
#include "extract/extraction.h"
#include "messages/entry_messages.h"

namespace kelvarin::api {
namespace {

// The engine's reports as the caller's events. A file is told of as
// written once nothing said it failed; after the caller asks to stop, no
// more is told.
class EventReporter final : public ExtractionLines {
 public:
  EventReporter(const ArchiveIndex& index, const std::string& destination, const kelvarin_extract_options& options,
                const ExtractionPlan& plan)
      : ExtractionLines(index, destination, PathForm::listed), options_(options) {
    progress_.files_total = plan.files_to_write();
    progress_.bytes_total = plan.bytes_to_write();
  }

  // Tells of an entry of the request that names nothing.
  void missing(const std::string& message) {
    kelvarin_event event = blank(KELVARIN_EVENT_FAILED);
    event.error = KELVARIN_NOT_FOUND;
    event.message = message.c_str();
    tell(event);
  }

  void file(const EntryVisit& file, std::int32_t size) override {
    written();
    pending_ = file;
    pending_path_ = listed_path(file);
    pending_.folder_path = {};
    pending_.name = {};
    pending_size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    has_pending_ = true;
  }
  void skipped(const EntryVisit& file, std::int32_t size) override {
    written();
    const std::string path = listed_path(file);
    kelvarin_event event = about(KELVARIN_EVENT_SKIPPED, file, path);
    event.size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    tell(event);
    done(event.size);
  }
  void left_out(const EntryVisit& entry, const PlannedEntry& planned) override {
    written();
    line_.clear();
    ExtractionLines::left_out(entry, planned);
    const std::string path = listed_path(entry);
    kelvarin_event event = about(KELVARIN_EVENT_LEFT_OUT, entry, path);
    event.reason = reason_of(planned.refusal);
    event.inside_count = planned.inside();
    tell(event);
  }
  void folder_failed(const EntryVisit& folder, const Error& error, std::uint64_t inside) override {
    written();
    line_.clear();
    ExtractionLines::folder_failed(folder, error, inside);
    failed(folder, error, inside);
  }
  void folder_not_named(const EntryVisit& folder, const Error& error, std::string_view temporary_name) override {
    written();
    line_.clear();
    ExtractionLines::folder_not_named(folder, error, temporary_name);
    failed(folder, error, 0);
  }
  void file_failed(const EntryVisit& file, const Error& error, const Error& left) override {
    has_pending_ = false;
    line_.clear();
    ExtractionLines::file_failed(file, error, left);
    failed(file, error, 0);
    done(pending_size_);
  }
  bool wants_stop() const override { return stopped_; }

  // Tells of the last file, once the run is over.
  void finish() { written(); }
  bool stopped() const { return stopped_; }
  // The words of the last line, for the run's own failures.
  const std::string& last_line() const { return line_; }

 protected:
  void error(std::string_view line) override {
    line_.assign(line_words(line));
  }

 private:
  kelvarin_event blank(kelvarin_event_kind kind) const {
    kelvarin_event event{};
    event.kind = kind;
    event.path = "";
    event.message = "";
    event.to = "";
    event.files_done = progress_.files_done;
    event.files_total = progress_.files_total;
    event.bytes_done = progress_.bytes_done;
    event.bytes_total = progress_.bytes_total;
    return event;
  }
  kelvarin_event about(kelvarin_event_kind kind, const EntryVisit& visit, const std::string& path) const {
    kelvarin_event event = blank(kind);
    event.path = path.c_str();
    event.path_size = path.size();
    event.number = visit.entry;
    event.entry_kind = visit.is_folder ? KELVARIN_FOLDER : KELVARIN_FILE;
    event.message = kind == KELVARIN_EVENT_LEFT_OUT || kind == KELVARIN_EVENT_FAILED ? line_.c_str() : "";
    return event;
  }
  void failed(const EntryVisit& visit, const Error& error, std::uint64_t inside) {
    const std::string path = listed_path(visit);
    kelvarin_event event = about(KELVARIN_EVENT_FAILED, visit, path);
    event.error = kind_of(error);
    event.inside_count = inside;
    tell(event);
  }
  void written() {
    if (!has_pending_) return;
    has_pending_ = false;
    kelvarin_event event = about(KELVARIN_EVENT_WRITTEN, pending_, pending_path_);
    event.size = pending_size_;
    tell(event);
    done(pending_size_);
  }
  // A file is over, written or not: the progress.
  void done(std::uint64_t size) {
    ++progress_.files_done;
    progress_.bytes_done += size;
    tell(blank(KELVARIN_EVENT_PROGRESS));
  }
  void tell(const kelvarin_event& event) {
    if (stopped_ || options_.on_event == nullptr) return;
    if (options_.on_event(options_.user, &event) != 0) stopped_ = true;
  }

  const kelvarin_extract_options& options_;
  kelvarin_event progress_{};
  std::string line_;
  EntryVisit pending_;
  std::string pending_path_;
  std::uint64_t pending_size_ = 0;
  bool has_pending_ = false;
  bool stopped_ = false;
};

kelvarin_kind run_extraction(kelvarin_archive* archive, const char* destination,
                             const kelvarin_extract_options& options) {
  SelectionRequest request;
  if (!string_list(options.paths, options.path_count, request.paths) ||
      !string_list(options.excludes, options.exclude_count, request.excludes)) {
    return fail(archive, KELVARIN_MISUSE, "a path or pattern is a null pointer");
  }
  request.ignore_case = options.ignore_case != 0;
  const ArchiveIndex& index = *archive->index;
  Result<ExtractionPlan> planned = ExtractionPlan::make(index, &request, kUsualCaseRule);
  if (!planned.ok()) return fail(archive, planned.error());
  ExtractOptions run{destination};
  run.skip_existing = options.skip_existing != 0;
  run.make_parents = options.make_parents != 0;
  // The caller's reader is called on the caller's thread alone.
  run.jobs = index.has_reader() ? 1 : options.jobs;
  // Nothing to write: the destination isn't even made.
  const bool writes = !request.filters() || planned.value().takes_anything();
  Destination opened;
  if (writes) opened = open_destination(run);
  if (writes && opened.ok() && opened.case_rule != planned.value().case_rule()) {
    planned = ExtractionPlan::make(index, &request, opened.case_rule);
    if (!planned.ok()) return fail(archive, planned.error());
  }
  const ExtractionPlan& plan = planned.value();
  EventReporter events(index, destination, options, plan);
  for (std::size_t missing : plan.missing()) events.missing(nothing_named(request.paths[missing], index.path()));
  ExtractSummary summary;
  if (writes) {
    summary = extract(index, plan, std::move(opened), run, events);
    events.finish();
  }
  if (!summary.destination.ok()) return fail(archive, kind_of(summary.destination), events.last_line());
  if (summary.stopped) return fail(archive, KELVARIN_NO_MEMORY, events.last_line());
  if (events.stopped()) return fail(archive, KELVARIN_STOPPED, "stopped by the caller");
  if (!summary.complete() || !plan.missing().empty()) {
    return fail(archive, KELVARIN_PARTIAL,
                std::to_string(summary.refused + summary.failed + plan.missing().size()) +
                    " entries or paths were left out, failed or named nothing");
  }
  return succeed(archive);
}

}  // namespace
}  // namespace kelvarin::api

using namespace kelvarin;
using namespace kelvarin::api;

extern "C" {

kelvarin_kind kelvarin_extract(kelvarin_archive* archive, const char* destination,
                               const kelvarin_extract_options* options) {
  return guarded(archive, [&] {
    if (const kelvarin_kind closed = need_open(archive); closed != KELVARIN_OK) return closed;
    kelvarin_extract_options known;
    kelvarin_extract_options_init(&known);
    if (!copy_options(options, known)) return fail(archive, KELVARIN_MISUSE, "the options' struct_size is not set");
    if (destination == nullptr) return fail(archive, KELVARIN_MISUSE, "no destination (a null pointer)");
    return run_extraction(archive, destination, known);
  });
}

}  // extern "C"
