// brq extract: the extraction with brq's own lines, an optional choice of
// entries, the choice to leave existing files alone, and a progress line.
#include "brq/commands.h"
#include "brq/progress_line.h"
#include "extract/entry_name.h"
#include "extract/extraction.h"
#include "extract/report.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

// What the extraction will write: the chosen files it doesn't refuse, in
// folders it doesn't refuse. Found by a walk of the index in memory,
// before the first byte is written.
class Totals final : public TreeVisitor {
 public:
  Totals(const ArchiveIndex& index, const Selection* selection)
      : index_(index), selection_(selection) {}

  bool enter_folder(const EntryVisit& folder) override { return taken(folder); }
  void leave_folder(const EntryVisit&) override {}
  void visit_file(const EntryVisit& file) override {
    if (!taken(file)) return;
    ++totals.files;
    totals.bytes += static_cast<std::uint64_t>(index_.node(file.entry).file_size);
  }
  void visit_unnamed(const EntryVisit&) override {}

  ProgressTotals totals;

 private:
  bool taken(const EntryVisit& entry) const {
    return (selection_ == nullptr || selection_->marks[entry.entry] != 0) &&
           check_entry(index_, entry).ok();
  }

  const ArchiveIndex& index_;
  const Selection* selection_;
};

// Each file's path as `brq list` shows it on `out`, errors on `err`, and
// the progress line between them.
class ListedLines final : public ExtractReporter {
 public:
  ListedLines(const Streams& streams, bool quiet, bool show_progress, ProgressTotals totals,
              bool show_last)
      : streams_(streams), quiet_(quiet), progress_(streams.err, show_progress, totals, show_last) {}

  void file(const EntryVisit& file, std::int32_t size) override {
    progress_.file_started(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!quiet_) print(streams_.out, one_line(listed_path(file)) + "\n");
  }
  void skipped(const EntryVisit&, std::int32_t size) override {
    progress_.drop(size > 0 ? static_cast<std::uint64_t>(size) : 0);
  }
  void error_line(std::string_view line) override {
    progress_.clear();
    print(streams_.err, line);
  }
  void finish() { progress_.finish(); }

 private:
  const Streams& streams_;
  bool quiet_;
  ProgressLine progress_;
};

}  // namespace

int extract_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  ExtractOptions options{line.operands[1]};
  options.skip_existing = line.skip_existing;
  const SelectionRequest request = selection_request(line, 2);
  Selection selection;
  if (!request.paths.empty() || !request.excludes.empty()) {
    selection = select_entries(index.value(), request);
    options.selection = &selection;
  }
  // The file lines scroll by on their own when they reach the terminal.
  const bool show_progress =
      progress_enabled(line.progress, platform::is_terminal(streams.err),
                       !line.quiet && platform::is_terminal(streams.out));
  Totals totals(index.value(), options.selection);
  if (show_progress) walk_node(index.value(), totals);
  ListedLines lines(streams, line.quiet, show_progress, totals.totals,
                    line.progress == ProgressChoice::always);
  for (const std::string& missing : selection.missing) {
    lines.error_line(error_line(nothing_named(missing, archive)));
  }
  // Nothing to write: the destination isn't even created.
  if (options.selection != nullptr && !selection.any()) {
    return selection.missing.empty() ? kStatusSuccess : kStatusEntriesFailed;
  }
  const ExtractSummary summary = extract(index.value(), options, lines);
  lines.finish();
  if (!summary.destination.ok()) return kStatusUnusable;
  if (line.skip_existing && !line.quiet) {
    print(streams.out, std::to_string(summary.files_written) +
                           (summary.files_written == 1 ? " file" : " files") + " written, " +
                           std::to_string(summary.skipped) + " already there left untouched\n");
  }
  return summary.complete() && selection.missing.empty() ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
