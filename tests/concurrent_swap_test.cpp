// Another process working inside the destination while a run goes on: a
// thread exchanges a folder with a link to a folder outside, back and
// forth, thousands of times, while an extraction fills that folder or
// removes a killed run's leftover holding it. Nothing outside the
// destination may appear, change or disappear. Linux only (the exchange
// is renameat2's).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <stdio.h>
#endif

#include "extract/entry_name.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

#ifndef _WIN32
// Exchanges `a` and `b` until told to stop; returns how often it did.
class Swapper {
 public:
  Swapper(fs::path a, fs::path b)
      : a_(std::move(a)), b_(std::move(b)), thread_([this] {
          while (!stop_) {
            if (::renameat2(AT_FDCWD, a_.c_str(), AT_FDCWD, b_.c_str(), RENAME_EXCHANGE) == 0) ++swaps_;
          }
        }) {}
  ~Swapper() { stop(); }
  int stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return swaps_;
  }

 private:
  fs::path a_, b_;
  std::atomic<bool> stop_{false};
  std::atomic<int> swaps_{0};
  std::thread thread_;
};

// The files below `folder`: s0 to s19, ten files in each. The same shape
// outside the destination as in the leftover, so that a removal sent
// through the link finds something to remove.
void make_shaped_tree(const fs::path& folder, const std::string& bytes) {
  for (int i = 0; i < 20; ++i) {
    const fs::path sub = folder / ("s" + std::to_string(i));
    fs::create_directories(sub);
    for (int j = 0; j < 10; ++j) write_file(sub / ("keep" + std::to_string(j)), bytes);
  }
}
#endif

TEST(ConcurrentSwap, FolderBeingFilledSendsNothingOutside) {
#ifdef _WIN32
  GTEST_SKIP() << "needs renameat2";
#else
  TempDir dir;
  std::vector<SourceNode> files;
  for (int i = 0; i < 1000; ++i) files.push_back(source_file("f" + std::to_string(i), "x"));
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", files)})});
  make_shaped_tree(dir / "outside", "outside");
  const std::map<std::string, std::string> outside = snapshot(dir / "outside");
  int swaps = 0;
  for (const bool existing : {true, false}) {
    const fs::path out = dir / (existing ? "existing" : "new");
    fs::create_directories(out);
    if (existing) fs::create_directories(out / "d");
    fs::create_directory_symlink(dir / "outside", out / "swap");
    // The existing folder, or the one a new folder is filled under.
    Swapper swapper(out / (existing ? "d" : std::string(TemporaryName("d", true).text())), out / "swap");
    const RunResult run = run_program({"e", utf8(archive), utf8(out)});
    swaps += swapper.stop();
    const std::map<std::string, std::string> now = snapshot(dir / "outside");
    EXPECT_TRUE(now == outside) << (existing ? "an existing" : "a new") << " folder: "
                                << now.size() << " names outside, " << outside.size() << " before";
  }
  EXPECT_GT(swaps, 0);
#endif
}

TEST(ConcurrentSwap, LeftoverBeingRemovedTakesNothingOutsideWithIt) {
#ifdef _WIN32
  GTEST_SKIP() << "needs renameat2";
#else
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")})})});
  make_shaped_tree(dir / "outside", "outside");
  const std::map<std::string, std::string> outside = snapshot(dir / "outside");
  int swaps = 0;
  for (int round = 0; round < 10; ++round) {
    const fs::path out = dir / ("out" + std::to_string(round));
    const fs::path leftover = out / std::string(TemporaryName("d", true).text());
    make_shaped_tree(leftover / "sub", "left");
    // Beside the leftover: a link inside it would be removed as a name
    // before any exchange could send the removal through it.
    fs::create_directory_symlink(dir / "outside", out / "swap");
    Swapper swapper(leftover / "sub", out / "swap");
    const RunResult run = run_program({"e", utf8(archive), utf8(out)});
    swaps += swapper.stop();
    const std::map<std::string, std::string> now = snapshot(dir / "outside");
    EXPECT_TRUE(now == outside) << "round " << round << ": " << now.size() << " names outside, "
                                << outside.size() << " before";
  }
  EXPECT_GT(swaps, 0);
#endif
}

}  // namespace
}  // namespace kelvarin::testing
