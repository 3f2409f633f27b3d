// brq extract: the whole tree as Kelvarin_Extract makes it, or only the
// named entries (a folder with everything below it, a missing path an
// error), with file lines on standard output and errors on standard error.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::vector<SourceNode> game_tree(std::string root_name = "") {
  return {source_folder(std::move(root_name),
                        {source_folder("maps", {source_file("a.dat", "A"),
                                                source_folder("deep", {source_file("z", "ZZ")}),
                                                source_folder("void")}),
                         source_file("top.txt", "T")}),
          source_file("sibling", "S")};
}

TEST(BrqExtract, WholeArchiveGivesKelvarinExtractsTree) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", game_tree());
  RunResult run = run_brq({"extract", archive.string(), (dir / "brq").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "maps/a.dat\nmaps/deep/z\ntop.txt\nsibling\n");
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run_program({"e", archive.string(), (dir / "kelvarin").string()}).status, 0);
  EXPECT_EQ(snapshot(dir / "brq"), snapshot(dir / "kelvarin"));
}

TEST(BrqExtract, NamedFileOrFolderBringsOnlyItselfAndTheFoldersOnTheWay) {
  struct Selection {
    std::vector<std::string> paths;
    std::string lines;
    std::map<std::string, std::string> tree;
  };
  const std::vector<Selection> cases = {
      {{"maps/deep/z"}, "maps/deep/z\n", {{"maps", "<dir>"}, {"maps/deep", "<dir>"}, {"maps/deep/z", "ZZ"}}},
      {{"/maps//"},
       "maps/a.dat\nmaps/deep/z\n",
       {{"maps", "<dir>"}, {"maps/a.dat", "A"}, {"maps/deep", "<dir>"}, {"maps/deep/z", "ZZ"},
        {"maps/void", "<dir>"}}},
      {{"maps/void"}, "", {{"maps", "<dir>"}, {"maps/void", "<dir>"}}},
  };
  for (const Selection& selection : cases) {
    TempDir dir;
    const fs::path archive = write_archive(dir / "a.brq", game_tree());
    std::vector<std::string> args = {"extract", archive.string(), (dir / "out").string()};
    args.insert(args.end(), selection.paths.begin(), selection.paths.end());
    RunResult run = run_brq(args);
    EXPECT_EQ(run.status, 0) << selection.paths[0] << "\n" << run.err;
    EXPECT_EQ(run.out, selection.lines) << selection.paths[0];
    EXPECT_EQ(snapshot(dir / "out"), selection.tree) << selection.paths[0];
  }
  // A named root is part of every path below it.
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", game_tree("data"));
  RunResult run = run_brq({"extract", "-q", archive.string(), (dir / "out").string(), "data/maps/a.dat"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{
                                       {"data", "<dir>"}, {"data/maps", "<dir>"}, {"data/maps/a.dat", "A"}}));
}

TEST(BrqExtract, MissingPathIsAnErrorButTheOthersAreExtracted) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", game_tree());
  // Entries come out in walk order whatever the order they are named in.
  RunResult run = run_brq(
      {"extract", archive.string(), (dir / "out").string(), "sibling", "maps/nothing", "top.txt"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "top.txt\nsibling\n");
  EXPECT_EQ(run.err, "ERROR: No entry named maps/nothing in " + archive.string() + "\n");
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"sibling", "S"}, {"top.txt", "T"}}));

  RunResult none = run_brq({"extract", archive.string(), (dir / "none").string(), "maps/a"});
  EXPECT_EQ(none.status, 2);
  EXPECT_FALSE(fs::exists(dir / "none"));
}

TEST(BrqExtract, RefusedEntriesGoToStandardErrorWithKelvarinExtractsStatus) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("ok", "fine"), source_file("..", "evil"),
                                         source_folder("a\\b", {source_file("x", "evil")})})});
  fs::create_directories(dir / "deep");
  RunResult run = run_brq({"extract", archive.string(), (dir / "deep" / "out").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "ok\n");
  EXPECT_EQ(count_lines(run.err, "ERROR: Skipping entry "), 2) << run.err;
  EXPECT_EQ(snapshot(dir.path()),
            (std::map<std::string, std::string>{{"a.brq", read_file(archive)}, {"deep", "<dir>"},
                                                {"deep/out", "<dir>"}, {"deep/out/ok", "fine"}}));
}

}  // namespace
}  // namespace kelvarin::testing
