// Two runs working in one destination at once stay truthful: a run's
// temporary folder or file is never taken for a killed run's leftover while
// that run lives, so neither run ends with status 0 while something it
// wrote is missing, and no half-written file ever stands under a final
// name, the second run killed or not. POSIX only: runs are forked.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>

#include <chrono>
#include <thread>
#endif

#include "names/entry_name.h"
#include "platform/file_system.h"

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

#ifndef _WIN32

// Without unnamed files, as on file systems that have none: every file
// that replaces one goes through its temporary name.
class NamedTemporaries final : public platform::FileSystemWrapper {
 public:
  NamedTemporaries() : FileSystemWrapper(platform::os_file_system()) {}
  Error create_unnamed_file(const platform::Folder&, platform::FileHandle&) override {
    return Error::because("no unnamed files here");
  }
};

// An extraction of `archive` into `out` started in a child, its lines into
// `lines`.
int start(const fs::path& archive, const fs::path& out, const fs::path& lines, bool named_temporaries) {
  return start_child([=] {
    std::FILE* stream = std::fopen(lines.c_str(), "wb");
    int status = 0;
    if (named_temporaries) {
      NamedTemporaries files;
      const Extracted run = extract_with(archive, out, {}, {}, &files);
      std::fputs(run.lines.c_str(), stream);
      status = run.summary.complete() ? 0 : 2;
    } else {
      status = run_kelvarin({"e", utf8(archive), utf8(out)}, stream);
    }
    std::fclose(stream);
    return status;
  });
}

#endif

// Archive A holds d with 100 small files and a larger one last, B holds d
// with small files, one name A has too and a much larger file. B starts
// once A copies its large file into d under d's temporary name, and is
// killed once A is done. Whatever the timing: if A says 0, each of its
// files is there with its bytes, and every file under a final name is
// whole, A's or B's.
TEST(SharedDestination, TwoRunsStayTruthfulAndLeaveNothingHalfWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and kill";
#else
  TempDir dir;
  std::map<std::string, std::string> bytes_a, bytes_b;
  std::vector<SourceNode> files_a, files_b;
  for (int i = 0; i < 100; ++i) bytes_a["d/a" + std::to_string(i)] = pattern(2000, static_cast<unsigned>(i));
  bytes_a["d/z_big_a"] = pattern(24 << 20, 1000);
  bytes_a["d/shared"] = pattern(1 << 20, 1001);
  for (int i = 0; i < 10; ++i) bytes_b["d/b" + std::to_string(i)] = pattern(2000, 2000u + static_cast<unsigned>(i));
  bytes_b["d/z_big_b"] = pattern(48 << 20, 3000);
  bytes_b["d/shared"] = pattern(1 << 20, 3001);
  for (const auto& [path, bytes] : bytes_a) files_a.push_back(source_file(path.substr(2), bytes));
  for (const auto& [path, bytes] : bytes_b) files_b.push_back(source_file(path.substr(2), bytes));
  const fs::path archive_a = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", files_a)})});
  const fs::path archive_b = write_archive(dir / "b.brq", {source_folder("", {source_folder("d", files_b)})});
  const std::string staging(TemporaryName("d", true).text());

  for (int round = 0; round < 8; ++round) {
    const bool named = round % 2 == 1;
    const fs::path out = dir / ("out" + std::to_string(round));
    fs::create_directories(out);
    // In half the rounds d is there already, holding the name both share.
    if (round % 4 >= 2) {
      fs::create_directories(out / "d");
      write_file(out / "d" / "shared", "before");
    }
    const int a = start(archive_a, out, dir / "a.txt", named);
    // B once A copies its last, large file into d under d's temporary
    // name (or after a moment, where d was there).
    for (int i = 0; i < 20000 && !fs::exists(out / staging / "z_big_a") && round % 4 < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(round / 2 % 2));
    const int b = start(archive_b, out, dir / "b.txt", named);
    const int a_status = wait_child(a);
    ::kill(b, SIGKILL);
    wait_child(b);
    const std::string what = "round " + std::to_string(round) + ", A said " + std::to_string(a_status) + ":\n" +
                             read_file(dir / "a.txt");
    for (const auto& [path, bytes] : snapshot(out)) {
      if (bytes == "<dir>") continue;
      const std::string name = fs::path(path).filename().string();
      if (is_temporary_name(name) || path.rfind(staging, 0) == 0) continue;
      // Whole: A's, B's, or what was there before.
      const bool whole = (bytes_a.count(path) != 0 && bytes == bytes_a[path]) ||
                         (bytes_b.count(path) != 0 && bytes == bytes_b[path]) || bytes == "before";
      EXPECT_TRUE(whole) << path << " holds " << bytes.size() << " bytes of nobody's; " << what;
    }
    if (a_status != 0) continue;
    for (const auto& [path, bytes] : bytes_a) {
      // What B, running still, wrote under a name both share may stand there.
      if (path == "d/shared") continue;
      EXPECT_EQ(read_file(out / path) == bytes, true) << path << " is missing or not A's; " << what;
    }
  }
#endif
}

// What another run holds as its own (its lock taken, or on Windows its
// handle held without delete sharing) is not a leftover: a folder of that
// temporary name is left alone and the folder made as it is, a file of
// that temporary name fails its entry in one line. Nothing of theirs is
// touched.
TEST(SharedDestination, ALiveRunsTemporaryNamesAreLeftAlone) {
  TempDir dir;
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")}),
                                                       source_file("f", "new f"), source_file("g", "new g")})});
  const fs::path out = dir / "out";
  const std::string staging(TemporaryName("d", true).text());
  const std::string part(TemporaryName("f", false).text());
  fs::create_directories(out / staging);
  write_file(out / staging / "theirs", "theirs");
  write_file(out / "f", "old f");
  write_file(out / part, "half of theirs");
  platform::Folder held_folder;
  platform::FileHandle held_file, folder_lock, file_lock;
  platform::FileSystem& disk = platform::os_file_system();
  platform::Folder top;
  platform::NativeString name;
  ASSERT_TRUE(platform::open_folder(utf8(out), top).ok());
  platform::native_name(staging, name);
  ASSERT_TRUE(platform::open_subfolder(top, name, held_folder).ok());
  ASSERT_TRUE(disk.lock(held_folder.handle, folder_lock).ok());
  // Held as a run holds what it writes: without sharing.
  platform::native_name(part, name);
  platform::FileIdentity identity;
  ASSERT_TRUE(platform::open_file(top, name, held_file, identity).ok());
  ASSERT_TRUE(disk.lock(held_file, file_lock).ok());
  top = {};

  const Extracted run = extract_with(archive, out);
  EXPECT_EQ(count_lines(run.lines, "ERROR: "), 1) << run.lines;
  EXPECT_EQ(count_lines(run.lines, "ERROR: Unable to create file: " + utf8(out) + "\\f: another run is writing it"),
            1)
      << run.lines;
  EXPECT_EQ(snapshot(out), (Tree{{staging, "<dir>"}, {staging + "/theirs", "theirs"}, {part, "half of theirs"},
                                 {"d", "<dir>"}, {"d/x", "new x"}, {"f", "old f"}, {"g", "new g"}}));
}

}  // namespace
}  // namespace kelvarin::testing
