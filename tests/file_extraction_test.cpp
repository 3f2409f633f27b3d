// Writing files: exact bytes at every chunk boundary, replacing what is
// there, and a destination that can't be used refused whole.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(FileExtraction, BytesAreExactAtEveryChunkBoundary) {
  TempDir dir;
  const std::vector<std::size_t> sizes = {0, 1, 1'023'999, 1'024'000, 1'024'001, 2'560'000};
  std::vector<SourceNode> files;
  std::string expected = kBanner;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    files.push_back(source_file("f" + std::to_string(i), pattern(sizes[i], static_cast<unsigned>(i))));
    expected += file_line("\\f" + std::to_string(i), static_cast<long>(sizes[i]));
  }
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", files)},
                                         {EntryOrder::depth_first, DataOrder::reverse_entry_order});
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, 0);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(read_file(dir / "out" / ("f" + std::to_string(i))), files[i].bytes) << sizes[i];
  }
}

// The first run makes "d" and writes it under a temporary name (where the
// second "x" takes a name already written), the second finds everything.
TEST(FileExtraction, ExistingFilesAreReplacedAndTheLaterDuplicateWins) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_folder("d", {source_file("x", "first"), source_file("x", "second"),
                                              source_file("z", "z")}),
                          source_folder("d", {source_file("x", "third")}),
                          source_file("y", "short")})});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "y", std::string(5000, 'L'));
  for (int run_number = 0; run_number < 2; ++run_number) {
    RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(snapshot(dir / "out"),
              (std::map<std::string, std::string>{
                  {"d", "<dir>"}, {"d/x", "third"}, {"d/z", "z"}, {"y", "short"}}));
  }
}

TEST(FileExtraction, DestinationThatCantBeUsedIsRefusedWithNothingCreated) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_folder("d", {source_file("a", "1")}), source_file("b", "2")})});
  write_file(dir / "plain", "keep");
  for (const fs::path& dest : {dir / "missing" / "out", dir / "plain", dir / "plain" / "out"}) {
    RunResult run = run_program({"e", utf8(archive), utf8(dest)});
    EXPECT_EQ(run.status, 1) << dest;
    EXPECT_EQ(run.out.rfind(kBanner + "ERROR: Unable to use " + utf8(dest) +
                                " as the destination folder: ",
                            0),
              0u)
        << run.out;
    EXPECT_EQ(count_lines(run.out, ""), 4) << run.out;
  }
  EXPECT_EQ(read_file(dir / "plain"), "keep");
  EXPECT_EQ(strays(dir.path(), "none", {"a.brq", "plain"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace kelvarin::testing
