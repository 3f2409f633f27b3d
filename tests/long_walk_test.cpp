// Trees whose shape would exhaust a recursive walk: a very long sibling
// chain and a very deep nesting.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(LongWalk, HugeSiblingChainIntoMissingParentReportsEveryFile) {
  TempDir dir;
  constexpr int kFiles = 300'000;
  std::vector<SourceNode> files(kFiles);
  for (int i = 0; i < kFiles; ++i) files[i] = source_file("f" + std::to_string(i), "x");
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", std::move(files))});
  RunResult run = run_program({"e", archive.string(), (dir / "missing" / "out").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "\\f"), kFiles);
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), kFiles);
  EXPECT_NE(run.out.find(file_line("\\f299999", 1)), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(LongWalk, DeepNestingIsWalkedWithoutRecursion) {
  TempDir dir;
  constexpr int kDepth = 3'000;
  SourceNode node = source_file("leaf", "L");
  for (int i = 0; i < kDepth; ++i) {
    SourceNode folder = source_folder("d");
    folder.children.push_back(std::move(node));
    node = std::move(folder);
  }
  std::vector<SourceNode> top_level{source_folder("")};
  top_level[0].children.push_back(std::move(node));
  const fs::path archive = write_archive(dir / "a.brq", top_level);
  RunResult run = run_program({"e", archive.string(), (dir / "out").string()});
  // Some 6,000 bytes of path outgrow what the OS takes: that is reported for
  // the folders and the file beyond the limit, and the run ends normally.
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "\\d\\d\\d"), 1);
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), 1);
  EXPECT_GT(count_lines(run.out, "ERROR: "), 100);
  EXPECT_TRUE(fs::is_directory(dir / "out" / "d" / "d" / "d"));

  // Removed from the bottom up: a recursive removal would hold a handle per level.
  // The first path past the deepest folder may be too long even to look at
  // (depending on the length of the temporary folder's own path): that ends
  // the chain too, instead of throwing.
  std::vector<fs::path> chain;
  std::error_code too_long;
  for (fs::path p = dir / "out" / "d"; fs::is_directory(p, too_long); p /= "d") chain.push_back(p);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) fs::remove_all(*it);
}

}  // namespace
}  // namespace kelvarin::testing
