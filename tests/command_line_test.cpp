// The command line and the run's first stage: banner, usage, opening the
// archive, a good archive, and line endings.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(CommandLine, WrongCommandLinesPrintUsageAndFail) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("f", "x")})});
  const std::string dest = utf8(dir / "out");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"e", utf8(archive)},
      {"E", utf8(archive), dest},
      {"e", utf8(archive), ""},
  };
  for (const auto& args : cases) {
    RunResult run = run_program(args);
    EXPECT_EQ(run.out, kBanner + kUsage) << "args: " << args.size();
    EXPECT_EQ(run.status, kUsageExitStatus);
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CommandLine, ArchiveThatCantBeOpenedIsNamedAsTyped) {
  TempDir dir;
  fs::create_directory(dir / "folder.brq");
  for (const fs::path& archive : {dir / "missing.brq", dir / "folder.brq"}) {
    RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
    EXPECT_EQ(run.out, kBanner + "Unable to open file: " + utf8(archive) + "\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CommandLine, GoodArchiveExtractsAndIgnoresExtraArguments) {
  TempDir dir;
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_file("f.txt", "hello")})});
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out"), "extra", "more"});
  EXPECT_EQ(run.out, kBanner + file_line("\\f.txt", 5));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir / "out" / "f.txt"), "hello");
}

TEST(CommandLine, LinesEndWithLineFeedAloneOnEveryOs) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("a", "1"), source_file("..", "2")})});
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, ""), 5) << run.out;
  EXPECT_EQ(run.out.find('\r'), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kelvarin::testing
