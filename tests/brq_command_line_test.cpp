// brq's command line: help on standard output with status 0, every wrong
// command line a message on standard error with status 64 and nothing done.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(BrqCommandLine, HelpForTheToolAndEachCommand) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
    RunResult run = run_brq(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: brq <command>", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
  for (const std::string command : {"list", "check", "extract", "pack"}) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {command, "--help"}, {"help", command}, {command, "x", "--help"}}) {
      RunResult run = run_brq(args);
      EXPECT_EQ(run.status, 0) << command;
      EXPECT_EQ(run.out.rfind("Usage: brq " + command + " ", 0), 0u) << run.out;
      EXPECT_NE(run.out.find("Exit status"), std::string::npos) << run.out;
    }
  }
}

TEST(BrqCommandLine, WrongCommandLinesAreUsageErrors) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("f", "x")})});
  const std::string a = archive.string();
  const std::string out = (dir / "out").string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"unpack", a},
      {"help", "unpack"},
      {"list"},
      {"list", a, a},
      {"list", "--quiet", a},
      {"check", "--json", a},
      {"extract", a},
      {"extract", a, ""},
      {"extract", "--json", a, out},
      {"pack", (dir / "src").string()},
      {"pack", "-x", (dir / "src").string(), (dir / "b.brq").string()},
  };
  for (const auto& args : cases) {
    RunResult run = run_brq(args);
    std::string shown;
    for (const auto& arg : args) shown += arg + " ";
    EXPECT_EQ(run.status, 64) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err.rfind("brq: ", 0), 0u) << shown << "\n" << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
  EXPECT_FALSE(fs::exists(dir / "b.brq"));
}

TEST(BrqCommandLine, DoubleDashLetsOperandsBeginWithADash) {
  if (kOnWindows) GTEST_SKIP() << "needs a POSIX shell";
  TempDir dir;
  write_archive(dir / "-a.brq", {source_folder("", {source_file("f", "x")})});
  RunResult run = run_shell("cd " + shell_quoted(dir.path().string()) + " && " + shell_quoted(BRQ_EXE) +
                            " list -- -a.brq");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("  f\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kelvarin::testing
