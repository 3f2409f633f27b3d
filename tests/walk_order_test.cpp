// The order of the walk and the paths it builds: depth-first pre-order in
// chain order whatever the order of entries and data in the archive, and
// every kind of top level (empty root, named root, root siblings, file root).
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::vector<SourceNode> nested_tree(std::string root_name) {
  return {source_folder(std::move(root_name),
                        {source_folder("maps", {source_file("a.dat", "A"),
                                                source_folder("deep", {source_file("z", "ZZ")}),
                                                source_file("b.dat", "BBB")}),
                         source_file("top.txt", "T"), source_folder("sounds", {source_file("s", "")})})};
}

TEST(WalkOrder, PreOrderWhateverTheEntryAndDataOrder) {
  const std::string expected = kBanner + file_line("\\maps\\a.dat", 1) +
                               file_line("\\maps\\deep\\z", 2) + file_line("\\maps\\b.dat", 3) +
                               file_line("\\top.txt", 1) + file_line("\\sounds\\s", 0);
  const std::map<std::string, std::string> tree = {
      {"maps", "<dir>"}, {"maps/a.dat", "A"}, {"maps/deep", "<dir>"}, {"maps/deep/z", "ZZ"},
      {"maps/b.dat", "BBB"}, {"top.txt", "T"}, {"sounds", "<dir>"}, {"sounds/s", ""}};
  for (EntryOrder entry_order : {EntryOrder::depth_first, EntryOrder::breadth_first}) {
    for (DataOrder data_order : {DataOrder::entry_order, DataOrder::reverse_entry_order}) {
      TempDir dir;
      const fs::path archive = write_archive(dir / "a.brq", nested_tree(""), {entry_order, data_order});
      RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
      EXPECT_EQ(run.out, expected);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(snapshot(dir / "out"), tree);
    }
  }
}

TEST(WalkOrder, NamedRootGoesInsideTheDestination) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", nested_tree("data"));
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(file_line("data\\maps\\deep\\z", 2)), std::string::npos) << run.out;
  EXPECT_EQ(read_file(dir / "out" / "data" / "maps" / "deep" / "z"), "ZZ");

  // A backslash is a separator on Windows only; elsewhere "out\" is a
  // folder of that name, and the root still goes inside it.
  RunResult backslash = run_program({"e", utf8(archive), utf8(dir / "out") + "\\"});
  EXPECT_EQ(backslash.status, 0) << backslash.out;
  const fs::path expected_base = kOnWindows ? dir / "out" : dir / "out\\";
  EXPECT_EQ(read_file(expected_base / "data" / "top.txt"), "T");
  if (!kOnWindows) {
    EXPECT_FALSE(fs::exists(dir / "out\\data"));
  }
}

TEST(WalkOrder, RootSiblingsAndFileRootLandInTheDestination) {
  TempDir dir;
  const std::vector<SourceNode> top_level = {
      source_file("first.bin", "1"), source_folder("second", {source_file("inner", "22")}),
      source_file("third.bin", "333")};
  const fs::path archive = write_archive(dir / "a.brq", top_level);
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("first.bin", 1) + file_line("second\\inner", 2) +
                         file_line("third.bin", 3));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"first.bin", "1"}, {"second", "<dir>"},
                                                {"second/inner", "22"}, {"third.bin", "333"}}));
  EXPECT_EQ(snapshot(dir.path()).count("outfirst.bin"), 0u);
}

TEST(WalkOrder, LongPathsPrintWhole) {
  // Lines of about a kilobyte and of several, on both sides of the block a
  // file's line is composed in.
  TempDir dir;
  const std::string folder_name(200, 'f');
  SourceNode file = source_file(std::string(200, 'n'), "long");
  std::string dir_path = "\\";
  for (int depth = 0; depth < 6; ++depth) dir_path += folder_name + "\\";
  for (int depth = 0; depth < 6; ++depth) {
    SourceNode folder = source_folder(folder_name);
    folder.children.push_back(depth == 1 ? source_file("short", "s") : source_file("x", ""));
    folder.children.push_back(std::move(file));
    file = std::move(folder);
  }
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {std::move(file)})});
  RunResult run = run_program({"e", archive.string(), (dir / "out").string()});
  std::string expected = kBanner;
  std::string prefix = "\\";
  for (int depth = 0; depth < 6; ++depth) {
    prefix += folder_name + "\\";
    expected += depth == 4 ? file_line(prefix + "short", 1) : file_line(prefix + "x", 0);
  }
  expected += file_line(dir_path + std::string(200, 'n'), 4);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kelvarin::testing
