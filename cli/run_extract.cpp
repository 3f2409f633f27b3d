// The run from command line to exit status: banner, argument checks, the
// archive's index, then the extraction with Kelvarin_Extract's own lines.
#include "cli/run_extract.h"

#include <cstring>
#include <string>
#include <string_view>

#include "archive/archive_index.h"
#include "extract/extraction.h"
#include "extract/report.h"

namespace kelvarin {
namespace {

constexpr std::string_view kBanner =
    "Kelvarin File System Extracter v1.0 by Dunmarrow\n"
    "Email: dunmarrow@example.com\n\n";

constexpr std::string_view kUsage =
    "Usage: Kelvarin_Extract.exe e <.brq file> <Destination Folder>\n\n"
    "  Example: Kelvarin_Extract.exe e \"C:\\Games\\Kelvarin\\data.brq\" \"C:\\Kelvarin DATA\"\n"
    "    Note: Don't include the \\ at the end of the folder, otherwise it wont work.\n\n\n";

void write(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

// Each file's "FileSize" line and each error line, in order, to `out`.
class PrintedLines final : public ExtractReporter {
 public:
  explicit PrintedLines(std::FILE* out) : out_(out) {}
  void file(const EntryVisit& file, std::int32_t size) override {
    format_file_line(file, size, line_);
    write(out_, line_);
  }
  void error_line(std::string_view line) override { write(out_, line); }

 private:
  std::FILE* out_;
  std::string line_;  // reused: a line per file costs no allocation
};

}  // namespace

int run_extract(int argc, char** argv, std::FILE* out) {
  write(out, kBanner);
  // An empty destination would name no folder at all: refuse it like any
  // other wrong command line.
  if (argc <= 3 || std::strcmp(argv[1], "e") != 0 || argv[3][0] == '\0') {
    write(out, kUsage);
    return kStatusUsage;
  }
  Result<ArchiveIndex> index = ArchiveIndex::open(argv[2]);
  if (!index.ok()) {
    if (index.error().step() == Error::Step::open) {
      write(out, "Unable to open file: " + std::string(argv[2]) + "\n");
    } else {
      write(out, error_line(index.error().cause()));
    }
    return kStatusUnusable;
  }
  PrintedLines lines(out);
  const ExtractSummary summary = extract(index.value(), {argv[3]}, lines);
  if (!summary.destination.ok()) return kStatusUnusable;
  return summary.complete() ? kStatusComplete : kStatusIncomplete;
}

}  // namespace kelvarin
