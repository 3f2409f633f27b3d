// A file reaches its final name whole or not at all: what held the name
// before stays untouched when the file fails, whatever holds the temporary
// name (a leftover, a link) is replaced, never written into, and a folder
// swapped for a link while it is being filled sends nothing through it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "extract/entry_name.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::string temporary_name(std::string_view name, bool folder) {
  return std::string(TemporaryName(name, folder).text());
}

TEST(AtomicReplacement, LinksUnderTheFinalOrTheTemporaryNameAreReplacedNotFollowed) {
  for (const bool under_temporary_name : {false, true}) {
    TempDir dir;
    const fs::path archive = write_archive(
        dir / "a.brq", {source_folder("", {source_file("a", "new a"), source_file("b", "new b")})});
    fs::create_directories(dir / "out");
    write_file(dir / "hard", "outside, hard-linked");
    write_file(dir / "soft", "outside, sym-linked");
    // The temporary name is taken only when the final one is.
    if (under_temporary_name) {
      write_file(dir / "out" / "a", "old a");
      write_file(dir / "out" / "b", "old b");
    }
    auto name = [&](const char* final) {
      return dir / "out" / (under_temporary_name ? temporary_name(final, false) : final);
    };
    fs::create_hard_link(dir / "hard", name("a"));
    std::error_code no_symlinks;
    fs::create_symlink(dir / "soft", name("b"), no_symlinks);

    RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir / "hard"), "outside, hard-linked");
    EXPECT_EQ(read_file(dir / "soft"), "outside, sym-linked");
    EXPECT_EQ(snapshot(dir / "out"),
              (std::map<std::string, std::string>{{"a", "new a"}, {"b", "new b"}}))
        << under_temporary_name;
  }
}

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

  const Extracted run = extract_with(archive, dir / "out", {}, [&] {
    fs::resize_file(archive, fs::file_size(archive) - 1000);
  });
  EXPECT_EQ(run.summary.failed, 1u);
  EXPECT_NE(run.lines.find("ERROR: Unable to read the data of entry 1 for " + utf8(dir / "out") +
                           "\\big: the archive ends before its last byte\n"),
            std::string::npos)
      << run.lines;
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
  const Extracted run = extract_with(archive, dir / "out", [&](const EntryVisit&) {
    fs::create_directories(dir / "out" / "d");
    write_file(dir / "out" / "d" / "theirs", "theirs");
  });

  const std::string temp_name = temporary_name("d", true);
  EXPECT_FALSE(run.summary.complete());
  EXPECT_EQ(count_lines(run.lines, "ERROR: Unable to put folder " + utf8(dir / "out") +
                                       "\\d\\ in place: "),
            1)
      << run.lines;
  EXPECT_NE(run.lines.find(temp_name + " beside it\n"), std::string::npos) << run.lines;
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
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to create file: " + (dir / "out").string() +
                                     "\\was_folder"),
            1)
      << run.out;
  // Nothing is tried inside the folder that is a file: one line for all.
  EXPECT_EQ(count_lines(run.out, "ERROR: " + (dir / "out").string() +
                                     "\\was_file\\ doesn't exist! (exists and is not a folder; "
                                     "the 1 entry inside it is skipped)"),
            1)
      << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: "), 2) << run.out;
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
  const fs::path leftover = dir / "out" / temporary_name("d", true);
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

// An archive that names an entry as the run would name its own unfinished
// file or folder: the entry is refused, so that it is neither removed as a
// leftover nor written over, and nothing is lost with status 0.
TEST(AtomicReplacement, EntriesNamedLikeTemporaryNamesAreRefused) {
  TempDir dir;
  const std::string file_temp = temporary_name("a", false);
  const std::string folder_temp = temporary_name("d", true);
  std::string upper_temp = folder_temp;
  for (char& c : upper_temp) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_file(file_temp, "T"), source_file("a", "new a"),
                          source_file(folder_temp, "D"), source_folder(upper_temp),
                          source_folder("d", {source_file("x", "x")})})});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "a", "old a");
  RunResult run = run_in_process({"e", archive.string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, "ERROR: Skipping entry "), 3) << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: "), 3) << run.out;
  EXPECT_NE(run.out.find(file_temp + ": the name is one Kelvarin_Extract keeps for its unfinished files"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(snapshot(dir / "out"), (std::map<std::string, std::string>{
                                       {"a", "new a"}, {"d", "<dir>"}, {"d/x", "x"}}));
}

#ifndef _WIN32
// Exchanges two names in one step, as another process working inside the
// destination could.
void exchange(const fs::path& a, const fs::path& b) {
  ASSERT_EQ(::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE), 0)
      << a << " " << b;
}
#endif

// A folder the run is filling is exchanged for a link to a folder outside,
// once, right after its first file (Linux), or someone tries to rename it
// away (Windows, where that is refused while the run holds it). Either way
// the rest of its files go into the folder the run opened, and nothing
// goes through the link.
TEST(AtomicReplacement, FolderSwappedMidRunSendsNothingElsewhere) {
  for (const bool existing : {true, false}) {
    TempDir dir;
    const fs::path archive = write_archive(
        dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x1", "1"), source_file("x2", "2"),
                                                               source_file("x3", "3")})})});
    fs::create_directories(dir / "outside");
    fs::create_directories(dir / "out");
    if (existing) fs::create_directories(dir / "out" / "d");
    const fs::path filled = dir / "out" / (existing ? "d" : temporary_name("d", true));
    fs::path lands_in = dir / "out" / "d";
#ifdef _WIN32
    bool refused = false;
    const Extracted run = extract_with(archive, dir / "out", [&](const EntryVisit& file) {
      std::error_code error;
      if (file.name == "x1") fs::rename(filled, dir / "out" / "moved", error);
      refused = refused || error;
    });
    EXPECT_TRUE(refused) << existing;
#else
    fs::create_directory_symlink(dir / "outside", dir / "out" / "swap");
    lands_in = dir / "out" / "swap";
    const Extracted run = extract_with(archive, dir / "out", [&](const EntryVisit& file) {
      if (file.name == "x1") exchange(filled, dir / "out" / "swap");
    });
#endif
    EXPECT_TRUE(run.summary.complete()) << run.lines;
    EXPECT_TRUE(fs::is_empty(dir / "outside")) << existing;
    EXPECT_EQ(snapshot(lands_in),
              (std::map<std::string, std::string>{{"x1", "1"}, {"x2", "2"}, {"x3", "3"}}))
        << existing;
  }
}

}  // namespace
}  // namespace kelvarin::testing
