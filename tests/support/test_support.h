// What the tests share: scratch folders and files, archives made with the
// writer, snapshots of trees, and the two programs run in this process or
// in a child that can be limited and killed.
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

// A path as UTF-8 text, the form the programs take arguments in on every
// OS (`string()` gives the ANSI code page on Windows), and back.
std::string utf8(const fs::path& path);
fs::path utf8_path(const std::string& text);

// `path` as Windows takes it past 260 characters ("\\?\" and absolute);
// elsewhere the path itself.
fs::path long_form(const fs::path& path);

// Removes the empty folder `deepest` and each parent up to `stop` (kept):
// mingw's runtime can't list paths past 260 characters, so deep trees are
// taken down one known level at a time.
void remove_upwards(const fs::path& deepest, const fs::path& stop);

void write_file(const fs::path& path, const std::string& bytes);
std::string read_file(const fs::path& path);
// `size` bytes that look like data, the same for the same seed.
std::string pattern(std::size_t size, unsigned seed);

// Every folder and file below `root` by relative '/' path: "<dir>" for a
// folder, the bytes for a file.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const fs::path& root);
// Makes what `tree` describes below `root`, as snapshot() gives it back.
void make_tree(const fs::path& root, const Tree& tree);

fs::path write_archive(const fs::path& path, const std::vector<SourceNode>& top_level,
                       const WriterOptions& options = {});
fs::path write_layout(const fs::path& path, const ArchiveLayout& layout);

struct RunResult {
  std::string out;
  std::string err;  // brq's only
  int status = -1000;
};

// The programs' entry functions run in this process, as their executables
// would run them.
RunResult kelvarin(const std::vector<std::string>& args);
RunResult brq(const std::vector<std::string>& args);
// Kelvarin_Extract's entry function with `args`, its lines to `out`.
int run_kelvarin(const std::vector<std::string>& args, std::FILE* out);
// What Kelvarin_Extract makes of `archive` in `out`, with an entry
// "<status>" when it ends with any status but 0.
Tree kelvarin_tree(const fs::path& archive, const fs::path& out);

// An extraction through the engine, Kelvarin_Extract's lines collected.
// `before` runs once the index is loaded, `on_file` as each file is
// announced, before it is written: tests act there.
struct Extracted {
  ExtractSummary summary;
  std::string lines;
};
// `files`, where given, stands for the disk; `jobs` and `start` are as
// ExtractOptions. Fewer workers than asked add a line "<started of asked
// workers>".
Extracted extract_with(const fs::path& archive, const fs::path& destination,
                       const std::function<void(const EntryVisit&)>& on_file = {},
                       const std::function<void()>& before = {}, platform::FileSystem* files = nullptr,
                       unsigned jobs = 0, const OrderedPool::StartThread& start = {});

// What lies below `root` outside the folder `inside` and the folders on the
// way to it, leaving out `expected`.
std::vector<std::string> strays(const fs::path& root, const std::string& inside,
                                const std::vector<std::string>& expected = {});

// `work` run in a child process (POSIX only: elsewhere `ran` stays false),
// its standard output collected. With a `file_limit` no file may grow past
// it; with `while_stopped` too, a write past it stops the child, which is
// killed once `while_stopped` has looked.
struct Child {
  bool ran = false;
  int status = -1;  // the exit status, when it exited
  bool killed = false;
  std::uint64_t peak_kib = 0;
  std::string out;
};
Child run_in_child(const std::function<int()>& work, std::uint64_t file_limit = 0,
                   const std::function<void()>& while_stopped = {});

// `work` started in a child process that ends with its status, and not
// waited for; and the wait, giving that status (-1 when a signal ended
// it). With `seconds`, a child still running then is killed, and the wait
// gives kHung. POSIX only: elsewhere nothing starts and the wait gives -1.
int start_child(const std::function<int()>& work);
inline constexpr int kHung = -2;
int wait_child(int child, int seconds = 0);

extern const bool kOnWindows;
extern const std::string kBanner;

// The "FileSize" line of a file.
std::string file_line(const std::string& path, long size);
// Number of lines of `text` that begin with `prefix`.
int count_lines(const std::string& text, const std::string& prefix);

}  // namespace kelvarin::testing
