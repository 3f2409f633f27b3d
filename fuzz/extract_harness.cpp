// The fuzzing harness. The sandbox holds the archive, a bystander file and
// the destination's parent:
//   <sandbox>/input.brq     the input, as an archive
//   <sandbox>/box/keep      must stay as it is
//   <sandbox>/box/out       the destination, removed after each input
// Each input is extracted twice, the second time over the first's output.
#include "fuzz/extract_harness.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>

#include "archive/archive_index.h"
#include "extract/extraction.h"
#include "extract/extraction_plan.h"
#include "messages/entry_messages.h"
#include "names/entry_name.h"

namespace kelvarin::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKeepBytes = "a bystander next to the destination";

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Sandbox {
  Sandbox() {
    fs::create_directories(root / "box");
    std::ofstream(keep, std::ios::binary) << kKeepBytes;
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path root = fs::temp_directory_path() /
                  ("kelvarin-fuzz-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                   "-" + std::to_string(std::random_device{}()));  // first: the paths below are made from it
  fs::path archive = root / "input.brq";
  fs::path keep = root / "box" / "keep";
  fs::path destination = root / "box" / "out";
};

// Anything in the sandbox but the input, the bystander and the destination
// is outside it; a link or a temporary file or folder in the destination
// is a leak (archive names of that form are refused).
std::string check_sandbox(const Sandbox& sandbox, std::string_view input) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(sandbox.root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path& path = it->path();
    const bool inside = path.string().rfind((sandbox.destination / "").string(), 0) == 0;
    if (!inside && path != sandbox.archive && path != sandbox.keep && path != sandbox.destination &&
        path != sandbox.root / "box") {
      return "something appeared outside the destination: " + path.string();
    }
    if (inside && it->is_symlink()) return "a link appeared in the destination: " + path.string();
    if (inside && is_temporary_name(path.filename().string())) {
      return "a temporary file or folder was left behind: " + path.string();
    }
  }
  if (error) return "the sandbox can't be listed: " + error.message();
  if (!fs::is_regular_file(fs::symlink_status(sandbox.keep)) || read_bytes(sandbox.keep) != kKeepBytes) {
    return "the file beside the destination was changed";
  }
  return read_bytes(sandbox.archive) == input ? "" : "the archive was changed";
}

// What the extraction told, in Kelvarin_Extract's words, kept to be checked
// against its summary.
struct Told final : ExtractionLines {
  Told(const ArchiveIndex& index, const std::string& destination)
      : ExtractionLines(index, destination, PathForm::printed) {}
  void file(const EntryVisit&, std::int32_t) override { ++files; }
  void error(std::string_view line) override {
    if (line.rfind("ERROR: ", 0) != 0 || line.find('\n') != line.size() - 1) malformed = true;
    lines += line;
    ++errors;
  }
  std::uint64_t files = 0;
  std::uint64_t errors = 0;
  bool malformed = false;
  std::string lines;
};

std::string run_and_check(const Sandbox& sandbox, std::string_view input, const std::string& destination) {
  const OpenedIndex index = ArchiveIndex::open(sandbox.archive.string());
  std::string problem;
  std::string lines;
  if (!index.ok()) {
    if (index.error().is_unusable() && index.fault().kind == IndexFault::Kind::none) {
      problem = "an unusable archive without a reason";
    }
    if (fs::exists(sandbox.destination)) problem = "an unusable archive, yet the destination was created";
  } else {
    const ExtractOptions options{destination};
    Destination opened = open_destination(options);
    Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, opened.case_rule);
    if (!plan.ok()) return "the plan could not be made: " + cause_of(plan.error());
    Told told(index.value(), destination);
    const ExtractSummary summary = extract(index.value(), plan.value(), std::move(opened), options, told);
    if (told.malformed) problem = "an error line is not one line beginning \"ERROR: \"";
    if (!summary.destination.ok() || !fs::is_directory(fs::symlink_status(sandbox.destination))) {
      problem = "the destination could not be used or was not made";
    }
    if (summary.complete() != (told.errors == 0)) problem = "the summary and the error lines disagree";
    if (summary.files_written > told.files || (summary.complete() && summary.files_written != told.files)) {
      problem = "the files written and the files announced disagree";
    }
    lines = told.lines;
  }
  if (problem.empty()) problem = check_sandbox(sandbox, input);
  if (!problem.empty()) problem += "\n--- errors of the run into " + destination + " ---\n" + lines;
  return problem;
}

}  // namespace

std::string extract_one_input(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!(std::ofstream(sandbox.archive, std::ios::binary | std::ios::trunc) << input)) return "the sandbox can't be written";
  // Twice: into a new destination, then over what the first run left, named
  // with a trailing separator this time.
  std::string problem = run_and_check(sandbox, input, sandbox.destination.string());
  if (problem.empty()) problem = run_and_check(sandbox, input, (sandbox.destination / "").string());
  std::error_code ignored;
  fs::remove_all(sandbox.destination, ignored);
  if (fs::exists(sandbox.destination, ignored)) problem += "\nthe destination can't be removed";
  return problem;
}

}  // namespace kelvarin::fuzz
