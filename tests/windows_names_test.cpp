// Names that are fine elsewhere but that Windows reads as devices, drives
// or streams, or silently changes, are refused there like traversal names;
// on other systems they are ordinary names.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

struct Name {
  std::string name;
  bool refused_on_windows;
};

TEST(WindowsNames, DevicesStreamsAndTrailingDotsAreRefusedOnlyOnWindows) {
  const std::vector<Name> files = {
      {"CON", true}, {"aux.txt", true}, {"Nul.tar.gz", true}, {"Lpt1 .log", true},
      {"com9", true}, {"COM\xC2\xB9", true}, {"prn", true}, {"conin$", true},
      {"a:b", true}, {"stream.txt:hidden", true}, {"what?", true}, {"star*", true},
      {"pipe|", true}, {"quote\"", true}, {"less<", true}, {"more>", true},
      {"ctl\x01", true}, {"dot.", true}, {"space ", true},
      // Close to the rules but outside them: kept everywhere.
      {"CONSOLE", false}, {"con_", false}, {"com10", false}, {"com", false},
      {"lpt0x", false}, {"nul-file", false}, {".hidden", false}, {"a.b.c", false},
      {" lead", false}};
  std::vector<SourceNode> root_children;
  std::string expected_lines;
  std::map<std::string, std::string> expected_tree;
  int refused = 0;
  for (const Name& file : files) {
    root_children.push_back(source_file(file.name, "x"));
    if (kOnWindows && file.refused_on_windows) {
      ++refused;
    } else {
      expected_lines += file_line("\\" + file.name, 1);
      expected_tree[file.name] = "x";
    }
  }
  // A refused folder takes its contents with it.
  for (const std::string folder : {"Com1", "dir."}) {
    root_children.push_back(source_folder(folder, {source_file("inside", "y")}));
    if (kOnWindows) {
      ++refused;
    } else {
      expected_lines += file_line("\\" + folder + "\\inside", 1);
      expected_tree[folder] = "<dir>";
      expected_tree[folder + "/inside"] = "y";
    }
  }

  TempDir dir;
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", std::move(root_children))});
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, kOnWindows ? 2 : 0) << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: Skipping entry "), refused) << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: "), refused) << run.out;
  std::string printed_files;
  for (std::size_t start = kBanner.size(); start < run.out.size();) {
    std::size_t end = run.out.find('\n', start) + 1;
    if (run.out.compare(start, 7, "ERROR: ") != 0) {
      printed_files += run.out.substr(start, end - start);
    }
    start = end;
  }
  EXPECT_EQ(printed_files, expected_lines);
  EXPECT_EQ(snapshot(dir / "out"), expected_tree);
}

}  // namespace
}  // namespace kelvarin::testing
