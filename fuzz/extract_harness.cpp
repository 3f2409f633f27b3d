// The fuzzing harness. The sandbox holds the archive, a bystander file and
// the destination's parent:
//   <sandbox>/input.brq     the input, as an archive
//   <sandbox>/box/keep      must stay as it is
//   <sandbox>/box/out       the destination, removed after each input
// Each input is extracted twice, the second time over the first's output,
// and read through the C API from memory and edited in between.
#include "fuzz/extract_harness.h"

#include <kelvarin.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>

#include "archive/archive_index.h"
#include "extract/extraction.h"
#include "extract/extraction_plan.h"
#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "names/entry_pattern.h"

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
  fs::path edit = root / "edit";  // an edited copy of the input, and its extraction
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

// What a run left on disk for the C API's reads to be compared with.
struct RunOutcome {
  bool complete = false;    // every file written
  bool exact_case = false;  // the destination tells names apart by case, as the API's listing does
};

std::string run_and_check(const Sandbox& sandbox, std::string_view input, const std::string& destination,
                          RunOutcome& outcome) {
  outcome = {};
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
    outcome.exact_case = !opened.case_rule.folds();
    Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, opened.case_rule);
    if (!plan.ok()) return "the plan could not be made: " + cause_of(plan.error());
    Told told(index.value(), destination);
    const ExtractSummary summary = extract(index.value(), plan.value(), std::move(opened), options, told);
    if (told.malformed) problem = "an error line is not one line beginning \"ERROR: \"";
    if (!summary.destination.ok() || !fs::is_directory(fs::symlink_status(sandbox.destination))) {
      problem = "the destination could not be used or was not made";
    }
    if (summary.complete() != (told.errors == 0)) problem = "the summary and the error lines disagree";
    outcome.complete = summary.complete();
    if (summary.files_written > told.files || (summary.complete() && summary.files_written != told.files)) {
      problem = "the files written and the files announced disagree";
    }
    lines = told.lines;
  }
  if (problem.empty()) problem = check_sandbox(sandbox, input);
  if (!problem.empty()) problem += "\n--- errors of the run into " + destination + " ---\n" + lines;
  return problem;
}

// Every path below `folder`, '/'-joined, with a file's bytes, or "/" for
// a folder.
std::map<std::string, std::string> tree_of(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string path = it->path().lexically_relative(folder).generic_string();
    tree[path] = it->is_directory() ? "/" : read_bytes(it->path());
  }
  return tree;
}

// The input through the C API, from memory: it opens exactly when the
// index is usable; every failure leaves one line of message; and each file
// the listing says an extraction writes reads as the bytes the extraction
// wrote, by a handle that listed the archive first and, for the first few,
// by a fresh one that plans only the file's own path.
class ApiCheck {
 public:
  // `written`: what the extraction into `destination` left. Where it was
  // incomplete, a file it failed to write (a name too long for the disk,
  // say) is missing there; where the destination folds case, a case twin
  // the listing calls written was left out.
  ApiCheck(std::string_view input, const fs::path& destination, const RunOutcome& written)
      : input_(input), destination_(destination), written_(written) {}

  std::string run(bool index_usable) {
    Handle listed(open());
    if (problem_.empty() && (kelvarin_error_kind(listed.get()) == KELVARIN_OK) != index_usable) {
      problem_ = "the C API and the extraction disagree on whether the index is usable";
    }
    if (!problem_.empty() || !index_usable) return problem_;
    const std::size_t count = kelvarin_entry_count(listed.get());
    std::size_t lazy_reads = 0;
    for (std::size_t position = 0; problem_.empty() && position < count; ++position) {
      kelvarin_entry entry;
      if (!answered(listed.get(), kelvarin_entry_at(listed.get(), position, &entry))) break;
      // (A replaced file's path reads as the later file of its name, which
      // is listed as written itself.)
      if (entry.kind != KELVARIN_FILE || entry.fate != KELVARIN_WRITTEN) continue;
      // Data said to reach past the input's end can't be read whole.
      if (entry.size > input_.size()) continue;
      const std::string path(entry.path, entry.path_size);
      std::string bytes;
      const kelvarin_kind read = read_all(listed.get(), path, entry.size, bytes);
      if (read == KELVARIN_NOT_FOUND) problem_ = "a file listed as written can't be found by its path: " + path;
      if (read == KELVARIN_OK) compare_with_disk(path, bytes);
      last_written_ = path;
      // A fresh handle's read plans the path alone: it must answer alike.
      if (problem_.empty() && lazy_reads++ < kLazyReads) {
        Handle fresh(open());
        std::string lazy_bytes;
        if (problem_.empty() && (read_all(fresh.get(), path, entry.size, lazy_bytes) != read || lazy_bytes != bytes)) {
          problem_ = "a read before the listing differs from one after it: " + path;
        }
      }
    }
    return problem_;
  }

  // The last file in walk order the listing calls written, if any.
  const std::string& last_written() const { return last_written_; }

 private:
  static constexpr std::size_t kLazyReads = 8;
  struct Free {
    void operator()(kelvarin_archive* archive) const { kelvarin_archive_free(archive); }
  };
  using Handle = std::unique_ptr<kelvarin_archive, Free>;

  static std::int64_t read_memory(void* user, std::uint64_t position, void* buffer, std::size_t count) {
    const auto& input = *static_cast<const std::string_view*>(user);
    if (position >= input.size()) return 0;
    const std::size_t length = std::min<std::uint64_t>(count, input.size() - position);
    std::memcpy(buffer, input.data() + position, length);
    return static_cast<std::int64_t>(length);
  }

  kelvarin_archive* open() {
    kelvarin_archive* archive = kelvarin_archive_new();
    if (archive == nullptr) {
      problem_ = "no handle";
      return nullptr;
    }
    kelvarin_reader reader{};
    reader.user = &input_;
    reader.size = input_.size();
    reader.read = read_memory;
    const kelvarin_kind opened = kelvarin_open_reader(archive, &reader);
    if (opened != KELVARIN_OK) answered(archive, opened);
    return archive;
  }

  // Whether the call succeeded; a failure must leave its kind and one line.
  bool answered(kelvarin_archive* archive, kelvarin_kind kind) {
    if (kind == KELVARIN_OK) return true;
    const std::string message = kelvarin_error_message(archive);
    if (kelvarin_error_kind(archive) != kind || message.empty() || message.find('\n') != std::string::npos) {
      problem_ = std::string("a failure without its kind or a one-line message: ") + kelvarin_kind_name(kind);
    }
    return false;
  }

  kelvarin_kind read_all(kelvarin_archive* archive, const std::string& path, std::uint64_t size, std::string& bytes) {
    if (archive == nullptr) return KELVARIN_OK;
    // One byte more than the listing says, which must not be given.
    bytes.assign(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t done = 0;
    const kelvarin_kind read = kelvarin_read(archive, path.c_str(), 0, bytes.data(), bytes.size(), &done);
    bytes.resize(read == KELVARIN_OK ? done : 0);
    if (read == KELVARIN_OK && done != size) problem_ = "a read gave another size than the listing's: " + path;
    answered(archive, read);
    return read;
  }

  void compare_with_disk(const std::string& path, const std::string& bytes) {
    if (!written_.exact_case) return;
    fs::path on_disk;
    try {
      on_disk = destination_ / fs::path(std::u8string(path.begin(), path.end()));
    } catch (const std::exception&) {
      return;  // a name this OS's paths can't hold as it stands
    }
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(on_disk, error))) {
      if (written_.complete) problem_ = "a file the C API reads is missing after a complete extraction: " + path;
    } else if (read_bytes(on_disk) != bytes) {
      problem_ = "a file reads otherwise through the C API than the extraction wrote it: " + path;
    }
  }

  std::string_view input_;
  fs::path destination_;
  RunOutcome written_;
  std::string last_written_;
  std::string problem_;
};

// An edit through the C API of a copy of the input whose first extraction
// (into `extracted`) was complete: the removal of `removed`, with the
// entries an extraction leaves out dropped. Refused, it leaves the copy as
// it was; done, it leaves a sound archive whose extraction is the first
// one's tree without that file; either way nothing beside the copy.
std::string check_edit(const Sandbox& sandbox, std::string_view input, const fs::path& extracted,
                       const std::string& removed) {
  const fs::path archive = sandbox.edit / "edit.brq";
  const fs::path out = sandbox.edit / "out";
  fs::create_directories(sandbox.edit);
  if (!(std::ofstream(archive, std::ios::binary | std::ios::trunc) << input)) return "the sandbox can't be written";
  std::string problem;
  kelvarin_archive* handle = kelvarin_archive_new();
  if (handle == nullptr || kelvarin_open_path(handle, archive.string().c_str()) != KELVARIN_OK) {
    problem = "the copy to edit can't be opened";
  } else {
    kelvarin_edit_options options;
    kelvarin_edit_options_init(&options);
    options.drop_damaged = 1;
    options.allow_unportable = 1;
    const char* paths[] = {removed.c_str()};
    if (kelvarin_remove(handle, paths, 1, &options) != KELVARIN_OK) {
      if (read_bytes(archive) != input) problem = "a refused edit changed the archive";
    } else {
      kelvarin_check_result check{};
      check.struct_size = sizeof check;
      if (kelvarin_check(handle, &check) != KELVARIN_OK || check.sound != 1) {
        problem = "an edit left an unsound archive";
      }
      if (problem.empty() && kelvarin_extract(handle, out.string().c_str(), nullptr) != KELVARIN_OK) {
        problem = std::string("the edited archive can't be extracted whole: ") + kelvarin_error_message(handle);
      }
      std::map<std::string, std::string> expected = tree_of(extracted);
      expected.erase(removed);
      if (problem.empty() && tree_of(out) != expected) {
        problem = "the edited archive's extraction is not the first one's without " + removed;
      }
    }
  }
  kelvarin_archive_free(handle);
  std::error_code error;
  for (const auto& item : fs::directory_iterator(sandbox.edit, error)) {
    if (item.path() != archive && item.path() != out && problem.empty()) {
      problem = "the edit left something beside the archive: " + item.path().string();
    }
  }
  fs::remove_all(sandbox.edit, error);
  return problem;
}

}  // namespace

std::string extract_one_input(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!(std::ofstream(sandbox.archive, std::ios::binary | std::ios::trunc) << input)) return "the sandbox can't be written";
  // Twice: into a new destination, then over what the first run left, named
  // with a trailing separator this time.
  RunOutcome outcome;
  std::string problem = run_and_check(sandbox, input, sandbox.destination.string(), outcome);
  if (problem.empty()) {
    ApiCheck api(input, sandbox.destination, outcome);
    problem = api.run(ArchiveIndex::open(sandbox.archive.string()).ok());
    // Where the first extraction tells what the edited archive must hold.
    const std::string& removed = api.last_written();
    if (problem.empty() && outcome.complete && outcome.exact_case && !removed.empty() && !has_wildcards(removed) &&
        normalise_entry_path(removed) == removed) {
      problem = check_edit(sandbox, input, sandbox.destination, removed);
    }
  }
  if (problem.empty()) problem = run_and_check(sandbox, input, (sandbox.destination / "").string(), outcome);
  std::error_code ignored;
  fs::remove_all(sandbox.destination, ignored);
  if (fs::exists(sandbox.destination, ignored)) problem += "\nthe destination can't be removed";
  return problem;
}

}  // namespace kelvarin::fuzz
