// brq extract: the extraction with brq's own lines, an optional choice of
// entries, the choice to leave existing files alone, and a progress line.
#include "brq/commands.h"
#include "brq/progress_line.h"
#include "brq/text_output.h"
#include "extract/extraction.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// Each file's path as `brq list` shows it on `out`, errors on `err`, and
// the progress line between them.
class ListedLines final : public ExtractionLines {
 public:
  ListedLines(const ArchiveIndex& index, const std::string& destination, const Streams& streams, bool quiet,
              ProgressLine& progress, TextOutput& out)
      : ExtractionLines(index, destination, PathForm::listed),
        streams_(streams),
        quiet_(quiet),
        progress_(progress),
        out_(out) {}

  void file(const EntryVisit& file, std::int32_t size) override {
    progress_.file_started(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!quiet_) out_.add(one_line(listed_path(file)) + "\n");
  }
  void skipped(const EntryVisit&, std::int32_t size) override {
    progress_.drop(size > 0 ? static_cast<std::uint64_t>(size) : 0);
  }

 protected:
  void error(std::string_view line) override {
    progress_.clear();
    print(streams_.err, line);
  }

 private:
  const Streams& streams_;
  bool quiet_;
  ProgressLine& progress_;
  TextOutput& out_;
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
  const std::string& destination = line.operands[1];
  ListedLines lines(index.value(), destination, streams, line.quiet, progress, out);
  for (std::size_t missing : plan.missing()) {
    print(streams.err, error_line(nothing_named(request.paths[missing], archive)));
  }
  // Nothing to write: the destination isn't even created.
  if (request.filters() && !plan.takes_anything()) {
    return plan.missing().empty() ? kStatusSuccess : kStatusEntriesFailed;
  }
  ExtractOptions options{destination};
  options.skip_existing = line.skip_existing;
  options.make_parents = true;
  const ExtractSummary summary = extract(index.value(), plan, options, lines);
  progress.finish();
  if (!summary.destination.ok()) return kStatusUnusable;
  if (line.skip_existing && !line.quiet) {
    out.add(std::to_string(summary.files_written) + (summary.files_written == 1 ? " file" : " files") +
            " written, " + std::to_string(summary.skipped) + " already there left untouched\n");
  }
  const bool output_arrived = out.finish();
  return summary.complete() && plan.missing().empty() && output_arrived ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
