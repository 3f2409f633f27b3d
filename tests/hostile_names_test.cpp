// Names that would lead out of the destination folder are refused wherever
// they stand, and nothing appears outside the destination.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

struct Hostile {
  const char* what;
  std::vector<SourceNode> top_level;
};

TEST(HostileNames, TraversalNamesAreRefusedAndNothingLeavesTheDestination) {
  auto in_root = [](SourceNode node) {
    return std::vector<SourceNode>{source_folder("", {source_file("ok", "fine"), std::move(node)})};
  };
  const std::vector<Hostile> cases = {
      {"root named ..", {source_folder("..", {source_file("x", "evil")})}},
      {"root named .", {source_folder(".", {source_file("x", "evil")})}},
      {"file root named ..", {source_file("..", "evil")}},
      {"folder ..", in_root(source_folder("..", {source_file("x", "evil")}))},
      {"file ..", in_root(source_file("..", "evil"))},
      {"file .", in_root(source_file(".", "evil"))},
      {"slash path", in_root(source_file("a/../../x", "evil"))},
      {"backslash path", in_root(source_file("..\\..\\x", "evil"))},
      {"absolute slash", in_root(source_file("/x", "evil"))},
      {"absolute backslash", in_root(source_folder("\\x", {source_file("y", "evil")}))},
      {"separator inside", in_root(source_folder("a\\b", {source_file("y", "evil")}))},
      {"empty file name", in_root(source_file("", "evil"))},
      {"sibling of root", {source_folder("", {source_file("ok", "fine")}), source_file("..", "evil")}},
  };
  for (const Hostile& hostile : cases) {
    TempDir sandbox;
    const fs::path archive = write_archive(sandbox / "a.brq", hostile.top_level);
    fs::create_directories(sandbox / "deep" / "er");
    const fs::path dest = sandbox / "deep" / "er" / "out";
    RunResult run = run_program({"e", utf8(archive), utf8(dest)});
    EXPECT_EQ(run.status, 2) << hostile.what << "\n" << run.out;
    EXPECT_EQ(count_lines(run.out, "ERROR: Skipping entry "), 1) << hostile.what << "\n" << run.out;
    EXPECT_EQ(run.out.find("evil"), std::string::npos) << hostile.what;
    // Only the archive and the destination's own tree exist in the sandbox.
    for (const auto& [path, content] : snapshot(sandbox.path())) {
      const bool inside = path == "a.brq" || path == "deep" || path == "deep/er" ||
                          path.rfind("deep/er/out", 0) == 0;
      EXPECT_TRUE(inside) << hostile.what << ": " << path;
      EXPECT_NE(content, "evil") << hostile.what << ": " << path;
    }
  }
}

TEST(HostileNames, ExistingLinksInsideTheDestinationAreNotFollowed) {
  TempDir sandbox;
  fs::create_directories(sandbox / "out");
  fs::create_directories(sandbox / "elsewhere");
  std::error_code error;
  fs::create_directory_symlink(sandbox / "elsewhere", sandbox / "out" / "d", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const fs::path archive = write_archive(
      sandbox / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "evil")})})});
  RunResult run = run_program({"e", utf8(archive), utf8(sandbox / "out")});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_TRUE(fs::is_empty(sandbox / "elsewhere"));
}

}  // namespace
}  // namespace kelvarin::testing
