// A file reaches its final name whole or not at all: what held the name
// before stays untouched when the file fails, and whatever holds the
// temporary name (a leftover, a link) is replaced, never written into.
#include <gtest/gtest.h>

#include "archive/index_loader.h"
#include "extract/extract_entry.h"
#include "extract/walk.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::vector<SourceNode> two_files() {
  return {source_folder("", {source_file("a", "new a"), source_file("b", "new b")})};
}

TEST(AtomicReplacement, WhatHoldsTheTemporaryNameIsReplacedNotWrittenInto) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", two_files());
  fs::create_directories(dir / "out");
  write_file(dir / "hard", "outside, hard-linked");
  write_file(dir / "soft", "outside, sym-linked");
  // The temporary name is taken only when the final one is.
  write_file(dir / "out" / "a", "old a");
  write_file(dir / "out" / "b", "old b");
  fs::create_hard_link(dir / "hard", dir / "out" / temporary_name("a"));
  std::error_code no_symlinks;
  fs::create_symlink(dir / "soft", dir / "out" / temporary_name("b"), no_symlinks);

  RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(read_file(dir / "hard"), "outside, hard-linked");
  EXPECT_EQ(read_file(dir / "soft"), "outside, sym-linked");
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"a", "new a"}, {"b", "new b"}}));
}

TEST(AtomicReplacement, LinksUnderTheFinalNameAreReplacedNotFollowed) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", two_files());
  fs::create_directories(dir / "out");
  write_file(dir / "hard", "outside, hard-linked");
  write_file(dir / "soft", "outside, sym-linked");
  fs::create_hard_link(dir / "hard", dir / "out" / "a");
  std::error_code no_symlinks;
  fs::create_symlink(dir / "soft", dir / "out" / "b", no_symlinks);

  RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(read_file(dir / "hard"), "outside, hard-linked");
  EXPECT_EQ(read_file(dir / "soft"), "outside, sym-linked");
  EXPECT_FALSE(fs::is_symlink(dir / "out" / "b"));
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"a", "new a"}, {"b", "new b"}}));
}

// An extraction run step by step in this process, so that a test can act
// between loading the index and the walk, or from the walk's hooks.
struct StepwiseRun {
  ExtractState state;
  std::FILE* out = std::tmpfile();

  StepwiseRun(const fs::path& archive, const fs::path& destination) {
    state.out = out;
    state.archive_path = archive.string();
    state.dest_folder = destination.string();
    state.dest_folder_native = platform::destination_base(state.dest_folder);
  }
  ~StepwiseRun() {
    if (out != nullptr) std::fclose(out);
  }
  bool load() {
    std::string error;
    return out != nullptr &&
           platform::open_archive(platform::native_path(state.archive_path), state.archive).ok() &&
           load_index(state, error);
  }
  std::string printed() {
    std::rewind(out);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), out));
    return text;
  }
};

// The index promised the bytes; the archive lost them before the copy (it
// was cut while the run went on). The copy's short read must not cost the
// file that was there.
TEST(AtomicReplacement, ShortReadKeepsThePreviousFileAndTheWalkGoesOn) {
  if (kOnWindows) GTEST_SKIP() << "Windows lets no one shorten a file open for reading";
  TempDir dir;
  const std::string big(300'000, 'B');
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("big", big), source_file("small", "s")})},
      {EntryOrder::depth_first, DataOrder::reverse_entry_order});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "big", "previous");

  StepwiseRun run(archive, dir / "out");
  ASSERT_TRUE(run.load());
  fs::resize_file(archive, fs::file_size(archive) - 1000);
  walk_node(run.state, 0);

  EXPECT_TRUE(run.state.had_failure);
  EXPECT_NE(run.printed().find("ERROR: Unable to read the data of entry 1 for " +
                               run.state.dest_folder +
                               "\\big: the archive ends before its last byte\n"),
            std::string::npos)
      << run.printed();
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"big", "previous"}, {"small", "s"}}));
}

// A new folder's name taken by someone else while the run fills it: what
// they put there stays, the run's files stay under the temporary name, and
// the failure is reported.
TEST(AtomicReplacement, NewFolderWhoseNameWasTakenMeanwhileReplacesNothing) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")})})});
  fs::create_directories(dir / "out");
  StepwiseRun run(archive, dir / "out");
  ASSERT_TRUE(run.load());
  run.state.on_file = [&](std::string_view, std::string_view, std::int32_t) {
    fs::create_directories(dir / "out" / "d");
    write_file(dir / "out" / "d" / "theirs", "theirs");
  };
  walk_node(run.state, 0);

  const std::string temp_name = temporary_folder_name("d");
  EXPECT_TRUE(run.state.had_failure);
  EXPECT_EQ(count_lines(run.printed(), "ERROR: Unable to put folder " + run.state.dest_folder +
                                           "\\d\\ in place: "),
            1)
      << run.printed();
  EXPECT_NE(run.printed().find(temp_name + " beside it\n"), std::string::npos) << run.printed();
  EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{
                                       {"d", "<dir>"},
                                       {"d/theirs", "theirs"},
                                       {temp_name, "<dir>"},
                                       {temp_name + "/x", "new x"}}));
}

TEST(AtomicReplacement, WhatStandsInTheWayIsLeftAlone) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("was_folder", "file bytes"),
                                         source_folder("was_file", {source_file("x", "x")}),
                                         source_file("ok", "ok")})});
  fs::create_directories(dir / "out" / "was_folder");
  write_file(dir / "out" / "was_folder" / "inner", "inner");
  write_file(dir / "out" / "was_file", "a file");
  RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 2);
  // The file over the folder, and the file inside the folder that is a file.
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), 2) << run.out;
  EXPECT_EQ(
      count_lines(run.out, "ERROR: " + (dir / "out").string() + "\\was_file\\ doesn't exist!"), 1)
      << run.out;
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"was_folder", "<dir>"},
                                                {"was_folder/inner", "inner"},
                                                {"was_file", "a file"},
                                                {"ok", "ok"}}));
}

// A folder the run makes is filled under a name of its own; what a killed
// run left there (planted links included) is removed, never followed.
TEST(AtomicReplacement, LeftoverOfANewFolderIsRemovedWithoutFollowingLinks) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")})})});
  const fs::path leftover = dir / "out" / temporary_folder_name("d");
  fs::create_directories(leftover / "deep" / "deeper");
  fs::create_directories(dir / "outside");
  write_file(dir / "outside" / "kept", "outside");
  write_file(leftover / "x", "half");
  write_file(leftover / "deep" / "deeper" / "y", "old y");
  fs::create_hard_link(dir / "outside" / "kept", leftover / "deep" / "hard");
  std::error_code no_symlinks;
  fs::create_directory_symlink(dir / "outside", leftover / "deep" / "soft", no_symlinks);

  RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(snapshot(dir / "outside"), (std::map<std::string, std::string>{{"kept", "outside"}}));
  EXPECT_EQ(snapshot(dir / "out"),
            (std::map<std::string, std::string>{{"d", "<dir>"}, {"d/x", "new x"}}));
}

TEST(AtomicReplacement, DestinationBelowAFileCreatesNothing) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", two_files());
  write_file(dir / "plain", "keep");
  RunResult run = run_in_process({"e", archive.string(), (dir / "plain" / "out").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: "), 2) << run.out;
  EXPECT_EQ(read_file(dir / "plain"), "keep");
  EXPECT_EQ(strays(dir.path(), "none", {"a.brq", "plain"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace kelvarin::testing
