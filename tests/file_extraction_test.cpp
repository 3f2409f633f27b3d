// Writing files: exact bytes at every chunk boundary, replacing what is
// there, names as stored, and failures reported per file.
#include <gtest/gtest.h>

#include "extract/extract_entry.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::string pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

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

TEST(FileExtraction, ExistingFilesAreReplacedAndTheLaterDuplicateWins) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "first")}),
                                         source_folder("d", {source_file("x", "second")}),
                                         source_file("y", "short")})});
  fs::create_directories(dir / "out" / "d");
  write_file(dir / "out" / "y", std::string(5000, 'L'));
  for (int run_number = 0; run_number < 2; ++run_number) {
    RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{
                                         {"d", "<dir>"}, {"d/x", "second"}, {"y", "short"}}));
  }
}

TEST(FileExtraction, Utf8NamesAndEmptyFoldersAreKept) {
  TempDir dir;
  const std::string name = "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt";
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_folder("\xC3\x9C" "ber", {source_file(name, "u")}),
                          source_folder("empty")})});
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("\\\xC3\x9C" "ber\\" + name, 1));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"\xC3\x9C" "ber", "<dir>"},
                                                {"\xC3\x9C" "ber/" + name, "u"},
                                                {"empty", "<dir>"}}));
}

TEST(FileExtraction, MissingParentReportsEveryFileAndCreatesNothing) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_folder("d", {source_file("a", "1")}), source_file("b", "2")})});
  const std::string dest = utf8(dir / "missing" / "out");
  RunResult run = run_program({"e", utf8(archive), dest});
  EXPECT_EQ(run.out, kBanner + "ERROR: " + dest + "\\ doesn't exist!\n" + "ERROR: " + dest +
                         "\\d\\ doesn't exist!\n" + file_line("\\d\\a", 1) +
                         "ERROR: Unable to create file: " + dest + "\\d\\a\n" + file_line("\\b", 1) +
                         "ERROR: Unable to create file: " + dest + "\\b\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(FileExtraction, DestinationThatIsAFileFailsPerEntry) {
  TempDir dir;
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_file("a", "1")})});
  write_file(dir / "plain", "keep");
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "plain")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "ERROR: "), 2) << run.out;
  EXPECT_EQ(read_file(dir / "plain"), "keep");
}

TEST(FileExtraction, NoTemporaryFileStaysBehind) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("a", "1"), source_file("b", "2")})});
  // A killed run can leave a file under its temporary name only while it
  // replaces one: the next run replacing it takes the leftover over.
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "a", "old");
  write_file(dir / "out" / temporary_name("a"), "half");
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
}

}  // namespace
}  // namespace kelvarin::testing
