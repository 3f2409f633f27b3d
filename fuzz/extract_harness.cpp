// The fuzzing harness. The sandbox holds the archive, a bystander file and
// the destination's parent:
//   <sandbox>/input.brq     the input, as an archive
//   <sandbox>/box/keep      must stay as it is
//   <sandbox>/box/out       the destination, removed after each input
// Each input is extracted twice, the second time over the first's output.
#include "fuzz/extract_harness.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>

#include "archive/archive_index.h"
#include "extract/extraction.h"

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

bool write_bytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

class Sandbox {
 public:
  Sandbox() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("kelvarin-fuzz-" + std::to_string(stamp) + "-" +
                                         std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "box");
    write_bytes(keep(), kKeepBytes);
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& root() const { return root_; }
  fs::path archive() const { return root_ / "input.brq"; }
  fs::path box() const { return root_ / "box"; }
  fs::path keep() const { return root_ / "box" / "keep"; }
  fs::path destination() const { return root_ / "box" / "out"; }

 private:
  fs::path root_;
};

// Whatever lies in `folder` other than `allowed`.
std::string stranger_in(const fs::path& folder, std::initializer_list<std::string_view> allowed) {
  for (const auto& item : fs::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    bool known = false;
    for (std::string_view ok : allowed) known = known || name == ok;
    if (!known) return "something appeared outside the destination: " + item.path().string();
  }
  return {};
}

std::string check_sandbox(const Sandbox& sandbox, std::string_view input) {
  std::string problem = stranger_in(sandbox.root(), {"input.brq", "box"});
  if (problem.empty()) problem = stranger_in(sandbox.box(), {"keep", "out"});
  if (!problem.empty()) return problem;
  if (!fs::is_regular_file(fs::symlink_status(sandbox.keep())) ||
      read_bytes(sandbox.keep()) != kKeepBytes) {
    return "the file beside the destination was changed";
  }
  if (read_bytes(sandbox.archive()) != input) return "the archive was changed";
  return {};
}

// A temporary file is renamed or removed before its entry is done, and a
// folder filled under a temporary name is named when its subtree is done
// (archive names of that form are refused), so one that stays is a leak.
bool ends_with(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string check_destination(const Sandbox& sandbox) {
  std::error_code error;
  fs::recursive_directory_iterator it(sandbox.destination(), error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) return "a link appeared in the destination: " + it->path().string();
    const std::string name = it->path().filename().string();
    if (name.rfind(".kelvarin-", 0) != 0) continue;
    if (ends_with(name, ".part") && fs::is_regular_file(status)) {
      return "a temporary file was left behind: " + it->path().string();
    }
    if (ends_with(name, ".partdir") && fs::is_directory(status)) {
      return "a folder was left under its temporary name: " + it->path().string();
    }
  }
  if (error) return "the destination can't be listed: " + error.message();
  return {};
}

// What the extraction told, kept to be checked against its summary.
class Told final : public ExtractReporter {
 public:
  void file(const EntryVisit&, std::int32_t) override { ++files; }
  void error_line(std::string_view line) override {
    if (line.rfind("ERROR: ", 0) != 0 || line.find('\n') != line.size() - 1) malformed = true;
    lines += line;
    ++errors;
  }
  std::uint64_t files = 0;
  std::uint64_t errors = 0;
  bool malformed = false;
  std::string lines;
};

std::string check_summary(const ExtractSummary& summary, const Told& told, bool destination_exists) {
  if (told.malformed) return "an error line is not one line beginning \"ERROR: \"";
  if (!summary.destination.ok()) return "the destination could not be used";
  if (!destination_exists) return "the destination folder was not made";
  if (summary.complete() != (told.errors == 0)) return "the summary and the error lines disagree";
  if (summary.files_written > told.files) return "more files written than announced";
  if (summary.complete() && summary.files_written != told.files) {
    return "a complete extraction did not write every file it announced";
  }
  return {};
}

std::string run_and_check(const Sandbox& sandbox, std::string_view input, const std::string& destination) {
  Result<ArchiveIndex> index = ArchiveIndex::open(sandbox.archive().string());
  Told told;
  std::string problem;
  if (!index.ok()) {
    if (index.error().cause().empty()) problem = "an unusable archive without a reason";
  } else {
    const ExtractSummary summary = extract(index.value(), {destination}, told);
    problem = check_summary(summary, told, fs::is_directory(fs::symlink_status(sandbox.destination())));
  }
  if (problem.empty()) problem = check_sandbox(sandbox, input);
  if (problem.empty() && !index.ok() && fs::exists(sandbox.destination())) {
    problem = "an unusable archive, yet the destination was created";
  }
  if (problem.empty() && index.ok()) problem = check_destination(sandbox);
  if (!problem.empty()) problem += "\n--- errors of the run into " + destination + " ---\n" + told.lines;
  return problem;
}

}  // namespace

std::string extract_one_input(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string problem;
  if (!write_bytes(sandbox.archive(), input)) problem = "the sandbox can't be written";
  // Twice: into a new destination, then over what the first run left, named
  // with a trailing separator this time.
  if (problem.empty()) problem = run_and_check(sandbox, input, sandbox.destination().string());
  if (problem.empty()) {
    problem = run_and_check(sandbox, input, (sandbox.destination() / "").string());
  }
  std::error_code ignored;
  fs::remove_all(sandbox.destination(), ignored);
  if (fs::exists(sandbox.destination(), ignored)) {
    problem += "\nthe destination can't be removed: " + sandbox.destination().string();
  }
  return problem;
}

}  // namespace kelvarin::fuzz
