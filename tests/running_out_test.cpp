// Runs that meet the limits of the process: memory running out at any one
// allocation, on the walk's thread or a worker's, with one worker and with
// four; and workers the system won't start. Each run ends (never hangs,
// never aborts), says at most the one out-of-memory line, and leaves every
// file whole or absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "cli/run_extract.h"
#include "names/entry_name.h"
#include "platform/process.h"
#include "support/failing_allocation.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::vector<SourceNode> files_in(const std::string& prefix, int count) {
  std::vector<SourceNode> files;
  for (int i = 0; i < count; ++i) files.push_back(source_file(prefix + std::to_string(i), pattern(100 + 50 * i, i)));
  return files;
}

// Files in a folder that is there before the run ("a") and in folders it
// makes ("b", and "c" inside it), the later "a/f1" replacing the earlier.
fs::path small_archive(const TempDir& dir, Tree& whole) {
  std::vector<SourceNode> b = files_in("g", 4);
  b.push_back(source_folder("c", files_in("h", 3)));
  std::vector<SourceNode> a = files_in("f", 6);
  a.push_back(source_file("f1", "the later f1"));
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("a", a), source_folder("b", b), source_file("top", "top")})});
  whole = extract_with(archive, dir / "whole", {}, {}, nullptr, 1).summary.complete() ? snapshot(dir / "whole") : Tree{};
  return archive;
}

#ifndef _WIN32

// Kelvarin_Extract's frame and entry, as its executable runs them, with
// the words of its command line had before: `armed` runs right before.
int extract_in_frame(const fs::path& archive, const fs::path& out, const std::function<void()>& armed = {}) {
  std::string words[] = {"Kelvarin_Extract", "e", utf8(archive), utf8(out)};
  char* argv[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
  if (armed) armed();
  return platform::run_main(4, argv, [](int argc, char** args) { return run_extract(argc, args); },
                            [] { return out_of_memory(); });
}

#endif

TEST(RunningOut, MemoryFailingAtAnyAllocationEndsTheRunWithOneLine) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork";
#else
  if (!kAllocationsCounted) GTEST_SKIP() << "a sanitizer counts allocations itself";
  TempDir dir;
  Tree whole;
  const fs::path archive = small_archive(dir, whole);
  ASSERT_FALSE(whole.empty());
  const fs::path out = dir / "out", lines = dir / "lines", count = dir / "count";
  // Kelvarin_Extract in a child, its lines to `lines`; how many
  // allocations it counted to `count`.
  const auto run = [&](const char* jobs, std::uint64_t nth, Allocating where) {
    fs::remove_all(out);
    fs::create_directories(out / "a");
    return wait_child(start_child([&] {
                        ::setenv("KELVARIN_JOBS", jobs, 1);
                        if (std::freopen(lines.c_str(), "wb", stdout) == nullptr) return 120;
                        const int status = extract_in_frame(archive, out, [&] { fail_allocation(nth, where); });
                        const std::uint64_t counted = stop_counting_allocations();
                        std::ofstream(count) << counted;
                        return status;
                      }),
                      60);
  };
  for (const auto& [jobs, where] : std::vector<std::pair<const char*, Allocating>>{
           {"1", Allocating::this_thread}, {"4", Allocating::this_thread}, {"4", Allocating::other_threads}}) {
    ASSERT_EQ(run(jobs, 0, where), 0);
    std::uint64_t allocations = 0;
    std::ifstream(count) >> allocations;
    const std::string what = std::string(jobs) + (where == Allocating::this_thread ? " jobs, the walk's " : " jobs, a worker's ");
    EXPECT_GE(allocations, where == Allocating::this_thread ? 40u : 1u) << what;
    // A worker's allocations vary from run to run: a few more are tried.
    for (std::uint64_t nth = 1; nth <= allocations + 5; ++nth) {
      const int status = run(jobs, nth, where);
      ASSERT_NE(status, kHung) << what << nth;
      ASSERT_TRUE(status >= 0 && status <= 2) << what << nth << ": status " << status;
      const std::string said = read_file(lines);
      const int errors = count_lines(said, "ERROR: ");
      // 1 where it stopped before telling of any file, else 2.
      EXPECT_EQ(status, errors == 0 ? 0 : count_lines(said, "\\") == 0 ? 1 : 2) << what << nth << "\n" << said;
      EXPECT_LE(errors, 1) << what << nth << "\n" << said;
      EXPECT_EQ(count_lines(said, "ERROR: Unable to allocate memory"), errors) << what << nth << "\n" << said;
      for (const auto& [path, bytes] : snapshot(out)) {
        EXPECT_FALSE(is_temporary_name(fs::path(path).filename().string())) << what << nth << ": " << path;
        // The earlier f1 stays whole where the run stopped before the later.
        if (bytes != "<dir>" && !(path == "a/f1" && bytes == pattern(150, 1))) {
          EXPECT_EQ(bytes, whole[path]) << what << nth << ": " << path;
        }
      }
    }
  }
#endif
}

TEST(RunningOut, WorkersTheSystemWontStartLeaveTheRunWithThoseItHas) {
  TempDir dir;
  Tree whole;
  const fs::path archive = small_archive(dir, whole);
  const std::string serial = extract_with(archive, dir / "serial", {}, {}, nullptr, 1).lines;
  for (const unsigned jobs : {4u, 8u}) {
    for (unsigned starts = 0; starts < jobs; ++starts) {
      const fs::path out = dir / ("out" + std::to_string(jobs) + "_" + std::to_string(starts));
      fs::create_directories(out / "a");
      unsigned started = 0;
      const Extracted run = extract_with(archive, out, {}, {}, nullptr, jobs, [&](std::function<void()> body) {
        if (started++ >= starts) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
      });
      const std::string told =
          "<" + std::to_string(starts + 1) + " of " + std::to_string(jobs) + " workers>\n";
      EXPECT_EQ(run.lines, (starts + 1 < jobs ? told : "") + serial) << jobs << " " << starts;
      EXPECT_TRUE(run.summary.complete());
      EXPECT_EQ(snapshot(out), whole);
    }
  }
#ifndef _WIN32
  // Both programs asked for 64, where the address space holds the stacks
  // of a few: they say so on standard error alone.
  for (const bool kelvarin : {true, false}) {
    const fs::path out = dir / (kelvarin ? "limited" : "limited_brq"), err = dir / "err";
    const Child child = run_in_child([&] {
      ::setenv("KELVARIN_JOBS", "64", 1);
      if (std::freopen(err.c_str(), "wb", stderr) == nullptr) return 120;
      std::uint64_t pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (96u << 20);
      const struct rlimit memory {limit, limit};
      if (!kAllocationsCounted || ::setrlimit(RLIMIT_AS, &memory) != 0) return 120;
      if (kelvarin) return extract_in_frame(archive, out);
      const RunResult run = brq({"extract", "-q", utf8(archive), utf8(out)});
      std::fputs(run.err.c_str(), stderr);
      return run.status;
    });
    if (child.status == 120) return;  // no address space limit under a sanitizer
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.out, kelvarin ? kBanner + serial : "");
    const std::string said = read_file(err);
    EXPECT_EQ(said.rfind(kelvarin ? "Kelvarin_Extract: only " : "brq: only ", 0), 0u) << said;
    EXPECT_NE(said.find(" of 64 workers could be started\n"), std::string::npos) << said;
    EXPECT_EQ(count_lines(said, ""), 1) << said;
    EXPECT_EQ(snapshot(out), whole);
  }
#endif
}

}  // namespace
}  // namespace kelvarin::testing
