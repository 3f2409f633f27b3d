// brq extract: the extraction with brq's own lines or one JSON document,
// an optional choice of entries, the choice to leave existing files alone,
// and a progress line.
#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/progress_line.h"
#include "brq/text_output.h"
#include "extract/extraction.h"
#include "messages/jobs.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// Each file's path as `brq list` shows it on `out` and errors on `err`;
// or, with `json`, every entry in the document on `out` in walk order,
// errors too, and on `err` only what concerns the run as a whole (the
// destination, memory). The progress line goes between them.
class ListedLines final : public ExtractionLines {
 public:
  ListedLines(const ArchiveIndex& index, const CommandLine& line, const Streams& streams, ProgressLine& progress,
              TextOutput& out)
      : ExtractionLines(index, line.operands[1], PathForm::listed),
        streams_(streams),
        quiet_(line.quiet),
        json_(line.json),
        progress_(progress),
        out_(out) {}

  void file(const EntryVisit& file, std::int32_t size) override {
    progress_.file_started(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!json_) {
      if (!quiet_) out_.add(one_line(listed_path(file)) + "\n");
      return;
    }
    // Written, unless a failure of it comes next.
    written();
    pending_ = file.entry;
    pending_item_ = file_item(file, "written", size);
    has_pending_ = true;
  }
  void skipped(const EntryVisit& file, std::int32_t size) override {
    progress_.drop(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!json_) return;
    written();
    if (!quiet_) item(file_item(file, "skipped", size));
  }
  void left_out(const EntryVisit& entry, const PlannedEntry& planned) override {
    about(entry, "refused", planned.inside());
    ExtractionLines::left_out(entry, planned);
  }
  void folder_failed(const EntryVisit& folder, const Error& error, std::uint64_t inside) override {
    about(folder, "failed", inside);
    ExtractionLines::folder_failed(folder, error, inside);
  }
  void folder_not_named(const EntryVisit& folder, const Error& error, std::string_view temporary_name) override {
    about(folder, "failed", 0);
    ExtractionLines::folder_not_named(folder, error, temporary_name);
  }
  void fewer_workers(unsigned asked, unsigned started) override {
    progress_.clear();
    print(streams_.err, "brq: " + workers_started(asked, started));
  }
  void file_failed(const EntryVisit& file, const Error& error, const Error& left) override {
    if (pending_ == file.entry) has_pending_ = false;
    about(file, "failed", 0);
    ExtractionLines::file_failed(file, error, left);
  }

  // Closes the document, with the paths that named nothing and the counts;
  // false where there is none, the run having never started.
  bool finish(const ExtractSummary& summary, const std::vector<std::string>& missing) {
    if (!json_ || !summary.destination.ok()) return false;
    written();
    start();
    document_.end_array().key("missing").begin_array();
    for (const std::string& path : missing) document_.string(path);
    document_.end_array().key("files_written").number(summary.files_written);
    document_.key("bytes_written").number(summary.bytes_written).key("skipped").number(summary.skipped);
    document_.key("refused").number(summary.refused).key("failed").number(summary.failed);
    document_.key("complete").boolean(summary.complete() && missing.empty()).end_document();
    out_.add(document_.take());
    return true;
  }

 protected:
  void error(std::string_view line) override {
    if (json_ && has_about_) {
      // The line's words without its "ERROR: " and its end.
      about_.key("message").string(line.substr(7, line.size() - 8)).end_object();
      has_about_ = false;
      item(about_);
      return;
    }
    progress_.clear();
    print(streams_.err, line);
  }

 private:
  // The entry the next error line is about, and what became of it.
  void about(const EntryVisit& entry, const char* status, std::uint64_t inside) {
    if (!json_) return;
    written();
    about_ = JsonWriter();
    entry_members(about_.begin_object(), entry);
    about_.key("kind").string(entry.is_folder ? "folder" : "file").key("status").string(status);
    if (entry.is_folder) about_.key("inside").number(inside);
    has_about_ = true;
  }

  // A file's whole object in the document.
  static JsonWriter file_item(const EntryVisit& file, const char* status, std::int32_t size) {
    JsonWriter json;
    entry_members(json.begin_object(), file);
    json.key("kind").string("file").key("status").string(status).key("size").number(size).end_object();
    return json;
  }

  // The file announced last, written since nothing said otherwise.
  void written() {
    if (has_pending_ && !quiet_) item(pending_item_);
    has_pending_ = false;
  }

  // The document begun, up to its list of entries.
  void start() {
    if (started_) return;
    document_.begin_object().key("entries").begin_array(JsonWriter::Items::one_per_line);
    started_ = true;
  }

  void item(const JsonWriter& object) {
    start();
    out_.add(document_.value(object).take());
  }

  const Streams& streams_;
  bool quiet_;
  bool json_;
  ProgressLine& progress_;
  TextOutput& out_;
  JsonWriter document_;
  std::uint32_t pending_ = 0;
  JsonWriter pending_item_;
  bool has_pending_ = false;
  JsonWriter about_;  // open, to take the message
  bool has_about_ = false;
  bool started_ = false;
};

}  // namespace

int extract_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  const SelectionRequest request = selection_request(line, 2);
  Result<ExtractionPlan> planned = make_plan(index.value(), &request, kUsualCaseRule, streams);
  if (!planned.ok()) return kStatusUnusable;
  ExtractOptions options{line.operands[1]};
  options.skip_existing = line.skip_existing;
  options.make_parents = true;
  options.jobs = line.jobs;
  if (options.jobs == 0) {
    std::string warning;
    options.jobs = jobs_from_environment(warning);
    if (!warning.empty()) print(streams.err, "brq: " + one_line(warning) + "\n");
  }
  // Nothing to write: the destination isn't even created. Where it takes
  // names otherwise than this OS's folders do, the plan is made again.
  const bool run = !request.filters() || planned.value().takes_anything();
  Destination destination;
  if (run) destination = open_destination(options);
  if (run && destination.ok() && destination.case_rule != planned.value().case_rule()) {
    planned = make_plan(index.value(), &request, destination.case_rule, streams);
    if (!planned.ok()) return kStatusUnusable;
  }
  const ExtractionPlan& plan = planned.value();
  // The file lines scroll by on their own when they reach the terminal.
  const bool show_progress = progress_enabled(line.progress, platform::is_terminal(streams.err),
                                              !line.quiet && platform::is_terminal(streams.out));
  ProgressLine progress(streams.err, show_progress, {plan.files_to_write(), plan.bytes_to_write()},
                        line.progress == ProgressChoice::always);
  TextOutput out(streams);
  ListedLines lines(index.value(), line, streams, progress, out);
  // The document keeps every entry.
  if (!line.verbose && !line.json) lines.count_repeats();
  std::vector<std::string> missing;
  for (std::size_t request_number : plan.missing()) {
    missing.push_back(request.paths[request_number]);
    if (!line.json) print(streams.err, error_line(nothing_named(missing.back(), archive)));
  }
  ExtractSummary summary;
  if (run) {
    summary = extract(index.value(), plan, std::move(destination), options, lines);
    progress.finish();
    for (const std::string& told : lines.closing_lines()) print(streams.err, told);
  }
  if (!lines.finish(summary, missing) && line.json) {
    for (const std::string& path : missing) print(streams.err, error_line(nothing_named(path, archive)));
  }
  if (!summary.destination.ok() || summary.stopped_at_once()) return kStatusUnusable;
  if (run && line.skip_existing && !line.quiet && !line.json) {
    out.add(std::to_string(summary.files_written) + (summary.files_written == 1 ? " file" : " files") +
            " written, " + std::to_string(summary.skipped) + " already there left untouched\n");
  }
  const bool output_arrived = out.finish();
  return summary.complete() && missing.empty() && output_arrived ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
