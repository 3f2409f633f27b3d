// The extraction as Kelvarin_Extract runs it: the walk's order and paths
// whatever the layout, every top-level form, replacement, the destination,
// links in it, modes, and far data positions. (Names that would leave the
// destination, in every position: the recorded archives' replay.)
#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kelvarin::testing {
namespace {

// Each top level, depth first and breadth first, data in entry order and
// reversed: the walk is pre-order in chain order whatever the layout.
TEST(Extraction, EveryTopLevelInWalkOrderWhateverTheLayout) {
  struct Case {
    const char* what;
    std::vector<SourceNode> top_level;
    std::string lines;
    Tree tree;
  };
  const std::vector<Case> cases = {
      {"nested, empty root",
       {source_folder("", {source_folder("m", {source_file("a", "A"), source_folder("deep", {source_file("z", "ZZ")}),
                                               source_file("b", "BBB")}),
                           source_file("top", "T"), source_folder("s", {source_file("e", "")})})},
       file_line("\\m\\a", 1) + file_line("\\m\\deep\\z", 2) + file_line("\\m\\b", 3) + file_line("\\top", 1) +
           file_line("\\s\\e", 0),
       {{"m", "<dir>"}, {"m/a", "A"}, {"m/deep", "<dir>"}, {"m/deep/z", "ZZ"}, {"m/b", "BBB"}, {"top", "T"},
        {"s", "<dir>"}, {"s/e", ""}}},
      {"named root", {source_folder("data", {source_folder("m", {source_file("z", "ZZ")})})},
       file_line("data\\m\\z", 2), {{"data", "<dir>"}, {"data/m", "<dir>"}, {"data/m/z", "ZZ"}}},
      {"file root and siblings",
       {source_file("first.bin", "1"), source_folder("second", {source_file("inner", "22")}), source_file("third", "333")},
       file_line("first.bin", 1) + file_line("second\\inner", 2) + file_line("third", 3),
       {{"first.bin", "1"}, {"second", "<dir>"}, {"second/inner", "22"}, {"third", "333"}}},
      {"empty root and a sibling", {source_folder("", {source_file("a", "A")}), source_folder("s", {source_file("t", "T")})},
       file_line("\\a", 1) + file_line("s\\t", 1), {{"a", "A"}, {"s", "<dir>"}, {"s/t", "T"}}},
  };
  for (const Case& c : cases) {
    for (const WriterOptions layout : {WriterOptions{EntryOrder::depth_first, DataOrder::entry_order},
                                       WriterOptions{EntryOrder::breadth_first, DataOrder::reverse_entry_order},
                                       WriterOptions{EntryOrder::breadth_first, DataOrder::entry_order}}) {
      TempDir dir;
      const RunResult run = kelvarin({"e", utf8(write_archive(dir / "a.brq", c.top_level, layout)), utf8(dir / "out")});
      EXPECT_EQ(run.out, kBanner + c.lines) << c.what;
      EXPECT_EQ(run.status, 0) << c.what;
      EXPECT_EQ(snapshot(dir / "out"), c.tree) << c.what;
      EXPECT_EQ(strays(dir.path(), "out", {"a.brq"}), std::vector<std::string>{}) << c.what;
      // A backslash ends the destination on Windows only; elsewhere "out\" is
      // a folder of that name, and the tree still goes inside it.
      EXPECT_EQ(kelvarin({"e", utf8(dir / "a.brq"), utf8(dir / "out") + "\\"}).status, 0);
      EXPECT_EQ(snapshot(kOnWindows ? dir / "out" : dir / "out\\"), c.tree) << c.what;
    }
  }
}

// The first run makes "d" under a temporary name (where the second "x"
// takes a name already written), the second finds everything in place.
TEST(Extraction, ExistingFilesAreReplacedAndTheLaterDuplicateWins) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "first"), source_file("x", "second"),
                                                             source_file("z", "z")}),
                                         source_folder("d", {source_file("x", "third")}), source_file("y", "short")})});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "y", std::string(5000, 'L'));
  for (int run_number = 0; run_number < 2; ++run_number) {
    const RunResult run = kelvarin({"e", utf8(archive), utf8(dir / "out")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(snapshot(dir / "out"), (Tree{{"d", "<dir>"}, {"d/x", "third"}, {"d/z", "z"}, {"y", "short"}}));
  }
}

TEST(Extraction, DestinationThatCantBeUsedIsRefusedWithNothingCreated) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("a", "1")})})});
  write_file(dir / "plain", "keep");
  for (const fs::path& dest : {dir / "missing" / "out", dir / "plain", dir / "plain" / "out"}) {
    const RunResult run = kelvarin({"e", utf8(archive), utf8(dest)});
    EXPECT_EQ(run.status, 1) << dest;
    EXPECT_EQ(run.out.rfind(kBanner + "ERROR: Unable to use " + utf8(dest) + " as the destination folder: ", 0), 0u)
        << run.out;
    EXPECT_EQ(count_lines(run.out, ""), 4) << run.out;
  }
  EXPECT_EQ(read_file(dir / "plain"), "keep");
  EXPECT_EQ(strays(dir.path(), "none", {"a.brq", "plain"}), std::vector<std::string>{});
}

TEST(Extraction, ExistingLinksInsideTheDestinationAreNotFollowed) {
  TempDir sandbox;
  fs::create_directories(sandbox / "out");
  fs::create_directories(sandbox / "elsewhere");
  std::error_code error;
  fs::create_directory_symlink(sandbox / "elsewhere", sandbox / "out" / "d", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const fs::path archive =
      write_archive(sandbox / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "evil")})})});
  const RunResult run = kelvarin({"e", utf8(archive), utf8(sandbox / "out")});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: " + utf8(sandbox / "out") + "\\d\\ doesn't exist! (a link holds its name"), 1) << run.out;
  EXPECT_TRUE(fs::is_empty(sandbox / "elsewhere"));
}

// What the run makes is the user's, as any file they made: the modes their
// umask leaves, whether a folder is new or not and a file new or replaced.
TEST(Extraction, MadeFilesAndFoldersHaveTheUsersModes) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX modes";
#else
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("new", {source_file("f", "1")}),
                                         source_folder("old", {source_file("f", "2")}), source_file("g", "3")})});
  fs::create_directories(dir / "out" / "old");
  write_file(dir / "out" / "g", "old");
  ::chmod((dir / "out" / "g").c_str(), 0600);
  for (const mode_t umask : {022, 077}) {
    const mode_t before = ::umask(umask);
    const RunResult run = kelvarin({"e", utf8(archive), utf8(dir / "out")});
    ::umask(before);
    EXPECT_EQ(run.status, 0) << run.out;
    for (const auto& [path, mode] : std::vector<std::pair<std::string, mode_t>>{
             {"new", 0777}, {"new/f", 0666}, {"old/f", 0666}, {"g", 0666}}) {
      struct stat info {};
      ASSERT_EQ(::stat((dir / "out" / path).c_str(), &info), 0) << path;
      EXPECT_EQ(info.st_mode & 07777, mode & ~umask) << path << " under umask 0" << std::oct << umask;
    }
    fs::remove_all(dir / "out" / "new");
  }
#endif
}

// A file whose data lie at 5 GiB, in a sparse archive: positions are 64-bit
// all the way to the read.
TEST(Extraction, DataPastFourGibibytes) {
  TempDir dir;
  const std::vector<SourceNode> tree = {source_folder("", {source_file("near", "near"), source_file("far", "far bytes")})};
  ArchiveLayout layout = lay_out(tree).value();
  const std::uint64_t far = (std::uint64_t{5} << 30) + 16;
  layout.offsets[1] = static_cast<std::uint32_t>(far / 16);
  layout.data.pop_back();  // written by hand below
  const fs::path archive = write_layout(dir / "big.brq", layout);
  ASSERT_TRUE(std::fstream(archive, std::ios::binary | std::ios::in | std::ios::out).seekp(far).write("far bytes", 9));
  const RunResult run = kelvarin({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("\\near", 4) + file_line("\\far", 9));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"far", "far bytes"}, {"near", "near"}}));
}

}  // namespace
}  // namespace kelvarin::testing
