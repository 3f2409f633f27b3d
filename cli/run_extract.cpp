// The run from command line to exit status: banner, argument checks, the
// archive's index, the destination, the plan, then the extraction with
// Kelvarin_Extract's own lines.
#include "cli/run_extract.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "archive/archive_index.h"
#include "extract/extraction.h"
#include "extract/extraction_plan.h"
#include "messages/entry_messages.h"
#include "messages/jobs.h"

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
class PrintedLines final : public ExtractionLines {
 public:
  PrintedLines(const ArchiveIndex& index, std::string destination, std::FILE* out)
      : ExtractionLines(index, std::move(destination), PathForm::printed), out_(out) {}

  // On standard error, so that the lines on `out` stay as they are.
  void fewer_workers(unsigned asked, unsigned started) override {
    std::fputs(("Kelvarin_Extract: " + workers_started(asked, started)).c_str(), stderr);
  }

  // "%s%s      FileSize: %ld\n": the printed folder path, the name, the size.
  void file(const EntryVisit& file, std::int32_t size) override {
    line_.clear();
    append_printed_path(line_, file);
    line_ += "      FileSize: ";
    line_ += std::to_string(size);
    line_ += '\n';
    write(out_, line_);
  }

 protected:
  void error(std::string_view line) override { write(out_, line); }

 private:
  std::FILE* out_;
  std::string line_;  // reused: a line per file costs no allocation
};

int extract_archive(const char* archive, const char* destination_path, std::FILE* out) {
  const OpenedIndex index = ArchiveIndex::open(archive);
  if (!index.ok()) {
    if (index.error().step() == Error::Step::open) {
      write(out, "Unable to open file: " + std::string(archive) + "\n");
    } else {
      write(out, error_line(archive_problem(index), PathForm::printed));
    }
    return kStatusUnusable;
  }
  // The destination first: the plan follows how its folders take names.
  ExtractOptions options{destination_path};
  std::string warning;
  options.jobs = jobs_from_environment(warning);
  // Not among the lines the program has always printed to `out`.
  if (!warning.empty()) write(stderr, "Kelvarin_Extract: " + one_line(warning, PathForm::printed) + "\n");
  Destination destination = open_destination(options);
  Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, destination.case_rule);
  if (!plan.ok()) return out_of_memory(out);
  PrintedLines lines(index.value(), destination_path, out);
  const ExtractSummary summary = extract(index.value(), plan.value(), std::move(destination), options, lines);
  if (!summary.destination.ok() || summary.stopped_at_once()) return kStatusUnusable;
  return summary.complete() ? kStatusComplete : kStatusIncomplete;
}

}  // namespace

int run_extract(int argc, char** argv, std::FILE* out) {
  write(out, kBanner);
  // An empty destination would name no folder at all: refuse it like any
  // other wrong command line.
  if (argc <= 3 || std::strcmp(argv[1], "e") != 0 || argv[3][0] == '\0') {
    write(out, kUsage);
    return kStatusUsage;
  }
  try {
    return extract_archive(argv[2], argv[3], out);
  } catch (const std::bad_alloc&) {
    return out_of_memory(out);
  }
}

int out_of_memory(std::FILE* out) {
  write(out, "ERROR: Unable to allocate memory!\n");
  return kStatusUnusable;
}

}  // namespace kelvarin
