// Fixtures shared by the tests: scratch folders, files, archives made with
// the writer, snapshots of output trees, and running the real executable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "extract/extraction.h"

namespace kelvarin::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A path as UTF-8 text, the form the program takes its arguments in on
// every OS (`string()` gives the ANSI code page on Windows), and back.
std::string utf8(const fs::path& path);
fs::path utf8_path(const std::string& text);

// `path` as Windows takes it past 260 characters: absolute, with the
// "\\?\" prefix. Elsewhere the path itself.
fs::path long_form(const fs::path& path);

// Removes the empty folder `deepest`, then each parent up to `stop`
// (itself kept). Paths past 260 characters can't be listed by every C++
// runtime on Windows (mingw's stops there), so deep trees are taken down
// one known level at a time instead of with remove_all.
void remove_upwards(const fs::path& deepest, const fs::path& stop);

void write_file(const fs::path& path, const std::string& bytes);
std::string read_file(const fs::path& path);

// `size` bytes that look like data, the same for the same seed.
std::string pattern(std::size_t size, unsigned seed);

// Every folder and file below `root`, by relative path with '/' separators;
// folders map to "<dir>", files to their bytes.
std::map<std::string, std::string> snapshot(const fs::path& root);

// Writes an archive laid out from `top_level` into `path`.
fs::path write_archive(const fs::path& path, const std::vector<SourceNode>& top_level,
                       const WriterOptions& options = {});
// Writes an edited layout's bytes as they stand.
fs::path write_layout(const fs::path& path, const ArchiveLayout& layout);

struct RunResult {
  std::string out;
  std::string err;  // collected by run_brq only
  int status = 0;
};

// Runs the built Kelvarin_Extract with `args` and collects its standard
// output and exit status. $KELVARIN_EXTRACT_UNDER_TEST names another
// executable to run instead (an older build, to see a test fail on it).
RunResult run_program(const std::vector<std::string>& args);

// Runs the built brq with `args`, collecting standard output and standard
// error apart.
RunResult run_brq(const std::vector<std::string>& args);

// Runs a command line of the POSIX shell and collects its standard output.
// There is none on Windows: tests that need it skip there.
RunResult run_shell(const std::string& command);
std::string shell_quoted(const std::string& arg);

// Runs run_extract in this process with `args`, as the program would, and
// collects what it prints. For loops over many archives, where spawning a
// process each time would be slow.
RunResult run_in_process(const std::vector<std::string>& args);

// An extraction through the engine in this process, with Kelvarin_Extract's
// lines collected. `before` runs once the index is loaded; `on_file` as
// each file is announced, before it is written: tests act there.
struct Extracted {
  bool loaded = false;
  ExtractSummary summary;
  std::string lines;
};
Extracted extract_with(const fs::path& archive, const fs::path& destination,
                       const std::function<void(const EntryVisit&)>& on_file = {},
                       const std::function<void()>& before = {});

// What lies below `root` outside the folder `inside` (relative paths with
// '/' separators), leaving out the names in `expected`.
std::vector<std::string> strays(const fs::path& root, const std::string& inside,
                                const std::vector<std::string>& expected = {});

// Runs `work` in a child process and returns the child's peak resident
// memory in KiB; 0 where that can't be measured (Windows).
std::uint64_t peak_memory_kib(const std::function<void()>& work);

// Faults from the real OS (file size limits, signals) for the tests of
// failed and killed runs. False where this suite can't make them.
bool os_faults_available();

// Runs the built Kelvarin_Extract where no file may grow past `limit` bytes:
// a write beyond fails with EFBIG, as on a full disk.
RunResult run_program_with_file_limit(const std::vector<std::string>& args, std::uint64_t limit);

// Runs an extraction in a child process that is stopped the moment a write
// would take a file past `limit` bytes, calls `while_stopped`, then kills
// the child with SIGKILL. True when the child stopped there and died of it.
bool kill_extraction_at_file_limit(const std::vector<std::string>& args, std::uint64_t limit,
                                   const std::function<void()>& while_stopped);

// The exit status a shell sees for the usage error (-1).
extern const int kUsageExitStatus;

// Whether the suite runs on Windows, where names and paths have rules of
// their own.
extern const bool kOnWindows;

extern const std::string kBanner;
extern const std::string kUsage;

// The "FileSize" line of a file.
std::string file_line(const std::string& path, long size);

// Number of lines of `text` that begin with `prefix`.
int count_lines(const std::string& text, const std::string& prefix);

}  // namespace kelvarin::testing
