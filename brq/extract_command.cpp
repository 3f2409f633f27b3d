// brq extract: the extraction with brq's own lines, an optional choice of
// entries and a progress line.
#include "brq/commands.h"
#include "brq/progress_line.h"
#include "extract/extraction.h"
#include "extract/report.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

// Each file's path as `brq list` shows it on `out`, errors on `err`, and
// the progress line between them.
class ListedLines final : public ExtractReporter {
 public:
  ListedLines(const Streams& streams, bool quiet)
      : streams_(streams),
        quiet_(quiet),
        // The file lines scroll by on their own when they reach the terminal.
        progress_(streams.err, platform::is_terminal(streams.err) &&
                                   (quiet || !platform::is_terminal(streams.out))) {}

  void file(const EntryVisit& file, std::int32_t size) override {
    progress_.file_started(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!quiet_) print(streams_.out, one_line(listed_path(file)) + "\n");
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

int extract_archive(const std::string& archive, const std::string& dest,
                    const std::vector<std::string>& paths, bool quiet, const Streams& streams) {
  Result<ArchiveIndex> index = ArchiveIndex::open(archive);
  if (!index.ok()) {
    print(streams.err, error_line(why_unusable(index.error(), archive)));
    return kStatusUnusable;
  }
  ListedLines lines(streams, quiet);
  ExtractOptions options{dest};
  Selection selection;
  if (!paths.empty()) {
    selection = select_entries(index.value(), paths);
    for (const std::string& missing : selection.missing) {
      lines.error_line(error_line("No entry named " + missing + " in " + archive));
    }
    // Nothing to write: the destination isn't even created.
    if (!selection.any()) return kStatusEntriesFailed;
    options.selection = &selection;
  }
  const ExtractSummary summary = extract(index.value(), options, lines);
  lines.finish();
  if (!summary.destination.ok()) return kStatusUnusable;
  return summary.complete() && selection.missing.empty() ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
