// brq's command line: help on standard output with status 0, every wrong
// command line a message on standard error with status 64 and nothing done.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(BrqCommandLine, HelpForTheToolAndEachCommand) {
  RunResult run = run_brq({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: brq <command>", 0), 0u) << run.out;
  EXPECT_EQ(run.err, "");
  // Each command once, each way of asking once.
  const std::vector<std::vector<std::string>> asks = {
      {"list", "--help"}, {"help", "check"}, {"extract", "x", "--help"}, {"pack", "-h"}};
  for (const auto& args : asks) {
    const std::string command = args[0] == "help" ? args[1] : args[0];
    run = run_brq(args);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.out.rfind("Usage: brq " + command + " ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("Exit status"), std::string::npos) << run.out;
  }
}

TEST(BrqCommandLine, WrongCommandLinesAreUsageErrors) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("f", "x")})});
  const std::string a = archive.string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"unpack", a},
      {"list", a, a},
      {"check", "--json", a},
      {"extract", a, ""},
      {"pack", "-x", (dir / "src").string(), (dir / "b.brq").string()},
  };
  for (const auto& args : cases) {
    RunResult run = run_brq(args);
    EXPECT_EQ(run.status, 64) << run.err;
    EXPECT_EQ(run.out, "") << run.err;
    EXPECT_EQ(run.err.rfind("brq: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
  }
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
