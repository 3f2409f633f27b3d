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
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "missing" / "out")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "\\f"), kFiles);
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), kFiles);
  EXPECT_NE(run.out.find(file_line("\\f299999", 1)), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(LongWalk, DeepNestingIsWalkedWithoutRecursion) {
  TempDir dir;
  constexpr int kDepth = 3'000;
  // 36,000 characters of path: past what Linux (4,096 bytes) and Windows
  // (32,767 UTF-16 units with the long-path prefix) take.
  const std::string name(11, 'd');
  SourceNode node = source_file("leaf", "L");
  for (int i = 0; i < kDepth; ++i) {
    SourceNode folder = source_folder(name);
    folder.children.push_back(std::move(node));
    node = std::move(folder);
  }
  std::vector<SourceNode> top_level{source_folder("")};
  top_level[0].children.push_back(std::move(node));
  const fs::path archive = write_archive(dir / "a.brq", top_level);
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  // Beyond the OS's limit the folders and the file are reported, and the
  // run ends normally.
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "\\" + name + "\\" + name + "\\" + name), 1);
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), 1);
  EXPECT_GT(count_lines(run.out, "ERROR: "), 100);
  EXPECT_TRUE(fs::is_directory(dir / "out" / name / name / name));

  fs::path deepest = dir / "out";
  std::error_code too_long;
  while (fs::is_directory(long_form(deepest / name), too_long)) deepest /= name;
  remove_upwards(deepest, dir / "out");
}

}  // namespace
}  // namespace kelvarin::testing
