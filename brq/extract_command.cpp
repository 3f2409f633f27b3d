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
    pending_members_ = json_entry_members(file) + ", \"kind\": \"file\", \"status\": \"written\", \"size\": " +
                       std::to_string(size);
  }
  void skipped(const EntryVisit& file, std::int32_t size) override {
    progress_.drop(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!json_) return;
    written();
    if (!quiet_) {
      item(json_entry_members(file) + ", \"kind\": \"file\", \"status\": \"skipped\", \"size\": " +
           std::to_string(size));
    }
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
  void file_failed(const EntryVisit& file, const Error& error, const Error& left) override {
    if (pending_ == file.entry) pending_members_.clear();
    about(file, "failed", 0);
    ExtractionLines::file_failed(file, error, left);
  }

  // Closes the document, with the paths that named nothing and the counts;
  // false where there is none, the run having never started.
  bool finish(const ExtractSummary& summary, const std::vector<std::string>& missing) {
    if (!json_ || !summary.destination.ok()) return false;
    written();
    std::string end = started_ ? "\n]" : "{\"entries\": []";
    end += ",\n \"missing\": [";
    for (std::size_t i = 0; i < missing.size(); ++i) {
      if (i > 0) end += ", ";
      append_json_string(end, missing[i]);
    }
    end += "],\n \"files_written\": " + std::to_string(summary.files_written) +
           ", \"bytes_written\": " + std::to_string(summary.bytes_written) +
           ", \"skipped\": " + std::to_string(summary.skipped) + ", \"refused\": " + std::to_string(summary.refused) +
           ", \"failed\": " + std::to_string(summary.failed) +
           ", \"complete\": " + (summary.complete() && missing.empty() ? "true" : "false") + "}\n";
    out_.add(end);
    return true;
  }

 protected:
  void error(std::string_view line) override {
    if (json_ && !about_.empty()) {
      // The line's words without its "ERROR: " and its end.
      std::string members = about_ + ", \"message\": ";
      append_json_string(members, line.substr(7, line.size() - 8));
      about_.clear();
      item(members);
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
    about_ = json_entry_members(entry) + (entry.is_folder ? ", \"kind\": \"folder\"" : ", \"kind\": \"file\"") +
             ", \"status\": \"" + status + "\"";
    if (entry.is_folder) about_ += ", \"inside\": " + std::to_string(inside);
  }

  // The file announced last, written since nothing said otherwise.
  void written() {
    if (!pending_members_.empty() && !quiet_) item(pending_members_);
    pending_members_.clear();
  }

  void item(const std::string& members) {
    out_.add((started_ ? ",\n  {" : "{\"entries\": [\n  {") + members + "}");
    started_ = true;
  }

  const Streams& streams_;
  bool quiet_;
  bool json_;
  ProgressLine& progress_;
  TextOutput& out_;
  std::uint32_t pending_ = 0;
  std::string pending_members_;  // empty: none
  std::string about_;            // empty: none
  bool started_ = false;
};

}  // namespace

int extract_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  const SelectionRequest request = selection_request(line, 2);
  Result<ExtractionPlan> planned = make_plan(index.value(), &request, streams);
  if (!planned.ok()) return kStatusUnusable;
  const ExtractionPlan& plan = planned.value();
  // The file lines scroll by on their own when they reach the terminal.
  const bool show_progress = progress_enabled(line.progress, platform::is_terminal(streams.err),
                                              !line.quiet && platform::is_terminal(streams.out));
  ProgressLine progress(streams.err, show_progress, {plan.files_to_write(), plan.bytes_to_write()},
                        line.progress == ProgressChoice::always);
  TextOutput out(streams);
  ListedLines lines(index.value(), line, streams, progress, out);
  std::vector<std::string> missing;
  for (std::size_t request_number : plan.missing()) {
    missing.push_back(request.paths[request_number]);
    if (!line.json) print(streams.err, error_line(nothing_named(missing.back(), archive)));
  }
  ExtractSummary summary;
  // Nothing to write: the destination isn't even created.
  const bool run = !request.filters() || plan.takes_anything();
  if (run) {
    ExtractOptions options{line.operands[1]};
    options.skip_existing = line.skip_existing;
    options.make_parents = true;
    options.jobs = line.jobs;
    if (options.jobs == 0) {
      std::string warning;
      options.jobs = jobs_from_environment(warning);
      if (!warning.empty()) print(streams.err, "brq: " + one_line(warning) + "\n");
    }
    summary = extract(index.value(), plan, options, lines);
    progress.finish();
  }
  if (!lines.finish(summary, missing) && line.json) {
    for (const std::string& path : missing) print(streams.err, error_line(nothing_named(path, archive)));
  }
  if (!summary.destination.ok()) return kStatusUnusable;
  if (run && line.skip_existing && !line.quiet && !line.json) {
    out.add(std::to_string(summary.files_written) + (summary.files_written == 1 ? " file" : " files") +
            " written, " + std::to_string(summary.skipped) + " already there left untouched\n");
  }
  const bool output_arrived = out.finish();
  return summary.complete() && missing.empty() && output_arrived ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
