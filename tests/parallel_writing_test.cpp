// Files written by several workers at once: the lines, the statuses and the
// tree left on disk are exactly those of one worker, for every recorded
// hostile archive and crafted tree; a run killed at any moment leaves each
// file whole or absent; and open descriptors stay bounded however deep
// or wide the tree.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#endif

#include "names/entry_name.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::vector<SourceNode> files_in(const std::string& prefix, int count, std::size_t size) {
  std::vector<SourceNode> files;
  for (int i = 0; i < count; ++i) {
    files.push_back(source_file(prefix + std::to_string(i), pattern(size + static_cast<std::size_t>(i), static_cast<unsigned>(i))));
  }
  return files;
}

TEST(ParallelWriting, SameLinesStatusesAndTreeAsOneWorker) {
  TempDir dir;
  std::vector<fs::path> archives;
  for (const auto& item : fs::directory_iterator(fs::path(KELVARIN_SOURCE_DIR) / "fuzz" / "regressions")) {
    if (item.path().extension() == ".brq") archives.push_back(item.path());
  }
  // Names held twice (the later file wins, a second folder adds to the
  // first), a file and a folder of one name, many files in few folders,
  // the root's siblings, empty files, a folder already there.
  std::vector<SourceNode> many = files_in("f", 300, 700);
  many.push_back(source_file("f7", "the later f7"));
  many.push_back(source_folder("f8", {source_file("lost", "x")}));
  archives.push_back(write_archive(
      dir / "crafted.brq",
      {source_folder("", {source_folder("d", many), source_folder("e", files_in("g", 50, 3000)),
                          source_folder("d", {source_file("f1", "the later f1"), source_file("new", "")}),
                          source_folder("there", files_in("h", 40, 10)), source_file("top", "top")}),
       source_file("sibling", "beside the root"), source_folder("d", {source_file("f2", "from a sibling")})}));
  for (const fs::path& archive : archives) {
    const auto run = [&](unsigned jobs) {
      const fs::path out = dir / "out";
      fs::remove_all(out);
      make_tree(out, {{"there/h3", "before"}});
      const Extracted got = extract_with(archive, out, {}, {}, nullptr, jobs);
      return std::make_tuple(got.lines, snapshot(out), got.summary.complete(), got.summary.files_written,
                             got.summary.refused, got.summary.failed);
    };
    EXPECT_EQ(run(1), run(4)) << archive;
  }
  EXPECT_GE(archives.size(), 40u);
}

#ifndef _WIN32

// Kelvarin_Extract in a child, with `jobs` workers and at most `files`
// open descriptors; its lines to nowhere.
int start_extraction(const fs::path& archive, const fs::path& out, const char* jobs, rlim_t files = 0) {
  return start_child([=] {
    ::setenv("KELVARIN_JOBS", jobs, 1);
    const struct rlimit limit {files, files};
    if (files != 0 && ::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 120;
    return run_kelvarin({"e", utf8(archive), utf8(out)}, std::fopen("/dev/null", "wb"));
  });
}

#endif

// Killed at moments spread over the run, with four workers writing: every
// file under its name is whole, in a folder the run makes (which has no
// name before it is complete) or in one that was there (the previous file
// staying until the new one is whole); the next run completes the tree.
TEST(ParallelWriting, KilledAtAnyMomentLeavesEachFileWholeOrAbsent) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and kill";
#else
  TempDir dir;
  std::vector<SourceNode> big = files_in("b", 6, 3 << 20);
  std::vector<SourceNode> small = files_in("s", 400, 20'000);
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_folder("new", files_in("n", 200, 30'000)),
                                                       source_folder("there", small), source_folder("big", big)})});
  std::map<std::string, std::string> whole;
  for (const SourceNode& file : big) whole["big/" + file.name] = file.bytes;
  for (const SourceNode& file : small) whole["there/" + file.name] = file.bytes;
  for (const SourceNode& file : files_in("n", 200, 30'000)) whole["new/" + file.name] = file.bytes;
  for (int round = 0; round < 6; ++round) {
    const fs::path out = dir / ("out" + std::to_string(round));
    fs::create_directories(out / "there");
    for (int i = 0; i < 400; i += 7) write_file(out / "there" / ("s" + std::to_string(i)), "before");
    const int run = start_extraction(archive, out, "4");
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
    ::kill(run, SIGKILL);
    wait_child(run);
    for (const auto& [path, bytes] : snapshot(out)) {
      if (bytes == "<dir>") continue;
      const std::string name = fs::path(path).filename().string();
      const std::string top = path.substr(0, path.find('/'));
      // What a killed run was filling has no name of its own yet.
      if (is_temporary_name(name) || is_temporary_name(top)) continue;
      EXPECT_TRUE(bytes == whole[path] || bytes == "before") << "round " << round << ": " << path << " holds "
                                                             << bytes.size() << " bytes";
    }
    const int again = start_extraction(archive, out, "4");
    EXPECT_EQ(wait_child(again), 0) << round;
    for (const auto& [path, bytes] : whole) EXPECT_TRUE(read_file(out / path) == bytes) << round << ": " << path;
  }
#endif
}

// 400 folders, each inside the one before and each holding files: with
// eight workers the run holds every folder on the way and the files in
// flight, and stays within 1,024 open descriptors.
TEST(ParallelWriting, OpenDescriptorsStayBoundedInDeepTrees) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and a descriptor limit";
#else
  TempDir dir;
  SourceNode deepest = source_folder("d", files_in("x", 10, 100));
  for (int level = 0; level < 400; ++level) {
    std::vector<SourceNode> holds = files_in("x", 10, 100);
    holds.push_back(std::move(deepest));
    deepest = source_folder("d", std::move(holds));
  }
  std::vector<SourceNode> top = {source_folder("", {})};
  top[0].children.push_back(std::move(deepest));
  const fs::path archive = write_archive(dir / "a.brq", top);
  EXPECT_EQ(wait_child(start_extraction(archive, dir / "out", "8", 1024)), 0);
  fs::path bottom = dir / "out";
  for (int level = 0; level <= 400; ++level) bottom /= "d";
  EXPECT_EQ(read_file(bottom / "x9"), pattern(109, 9));
#endif
}

// Where the process may open few descriptors (ulimit -n 24), eight
// workers asked for make do with what a serial run needs: every file is
// written, and no temporary folder is left behind.
TEST(ParallelWriting, FewDescriptorsMakeDoWithFewerWorkers) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and a descriptor limit";
#else
  TempDir dir;
  std::vector<SourceNode> folders;
  for (int i = 0; i < 30; ++i) folders.push_back(source_folder("d" + std::to_string(i), files_in("x", 8, 100)));
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", std::move(folders))});
  EXPECT_EQ(wait_child(start_extraction(archive, dir / "out", "8", 24)), 0);
  int files = 0;
  for (const auto& [path, bytes] : snapshot(dir / "out")) {
    EXPECT_FALSE(is_temporary_name(fs::path(path).filename().string())) << path;
    files += bytes != "<dir>";
  }
  EXPECT_EQ(files, 240);
#endif
}

// Counts the folders made under a temporary name and not yet named, and
// holds up the writing of large files until many are, or a while has gone.
class SlowLargeFiles final : public platform::FileSystemWrapper {
 public:
  SlowLargeFiles() : FileSystemWrapper(platform::os_file_system()) {}

  Error make_fresh_folder(const platform::Folder& parent, const platform::NativeString& name,
                          platform::Folder& folder) override {
    const Error made = FileSystemWrapper::make_fresh_folder(parent, name, folder);
    if (made.ok()) {
      const int now = ++waiting_for_names_;
      for (int most = most_waiting_; now > most && !most_waiting_.compare_exchange_weak(most, now);) {
      }
    }
    return made;
  }
  Error name_folder(const platform::Folder& parent, platform::Folder& folder, const platform::NativeString& from,
                    const platform::NativeString& to) override {
    --waiting_for_names_;
    return FileSystemWrapper::name_folder(parent, folder, from, to);
  }
  Error copy_range(const platform::FileHandle& from, std::uint64_t position, std::uint64_t length,
                   const platform::FileHandle& to, std::vector<char>& buffer, platform::CopyWay way) override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (length > 1000 && waiting_for_names_ < 200 && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return FileSystemWrapper::copy_range(from, position, length, to, buffer, way);
  }

  std::atomic<int> waiting_for_names_{0};
  std::atomic<int> most_waiting_{0};
};

// 1,500 folders side by side, each made under a temporary name and named
// once its files are written, after a file that takes long to write: the
// walk goes on meanwhile, but holds only a few dozen of them open at once.
TEST(ParallelWriting, FoldersWaitingForTheirNamesStayBounded) {
  TempDir dir;
  std::vector<SourceNode> side_by_side = {source_folder("w", {source_file("large", pattern(5000, 1))})};
  for (int i = 0; i < 1500; ++i) side_by_side.push_back(source_folder("w" + std::to_string(i), files_in("x", 2, 10)));
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", std::move(side_by_side))});
  fs::create_directories(dir / "out");
  SlowLargeFiles files;
  const Extracted extracted = extract_with(archive, dir / "out", {}, {}, &files, 8);
  EXPECT_TRUE(extracted.summary.complete());
  EXPECT_EQ(extracted.summary.files_written, 3001u);
  EXPECT_LT(files.most_waiting_.load(), 100);
  EXPECT_EQ(files.waiting_for_names_.load(), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1501);
}

// KELVARIN_JOBS that is not a number from 1 to 64 is said once, on
// standard error (never among Kelvarin_Extract's lines), and the default
// used; a good one, or brq's -j, silently.
TEST(ParallelWriting, BadKelvarinJobsIsSaidAndTheDefaultUsed) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and setenv";
#else
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", files_in("f", 3, 10))});
  const std::string kelvarin_out = utf8(dir / "k.out"), kelvarin_err = utf8(dir / "k.err");
  for (const std::string jobs : {"0", "65", "x", " 4", "4", "64"}) {
    const bool bad = jobs != "4" && jobs != "64";
    const Child child = run_in_child([&] {
      ::setenv("KELVARIN_JOBS", jobs.c_str(), 1);
      std::FILE* out = std::fopen(kelvarin_out.c_str(), "wb");
      if (out == nullptr || std::freopen(kelvarin_err.c_str(), "wb", stderr) == nullptr) return 120;
      const int status = run_kelvarin({"e", utf8(archive), utf8(dir / "k")}, out);
      std::fclose(out);
      const RunResult run = brq({"extract", "-q", utf8(archive), utf8(dir / "b")});
      const RunResult told = brq({"extract", "-q", "-j", "2", utf8(archive), utf8(dir / "j")});
      std::printf("%s", (run.err + told.err).c_str());
      return status + run.status + told.status;
    });
    const std::string said = "KELVARIN_JOBS=" + jobs + " is not a number from 1 to 64: using ";
    EXPECT_EQ(child.status, 0) << jobs;
    EXPECT_EQ(count_lines(child.out, "brq: " + said), bad ? 1 : 0) << jobs << child.out;
    EXPECT_EQ(count_lines(child.out, ""), bad ? 1 : 0) << jobs << child.out;
    EXPECT_EQ(count_lines(read_file(kelvarin_err), "Kelvarin_Extract: " + said), bad ? 1 : 0) << jobs;
    EXPECT_EQ(read_file(kelvarin_out).find("KELVARIN_JOBS"), std::string::npos) << jobs;
  }
#endif
}

}  // namespace
}  // namespace kelvarin::testing
