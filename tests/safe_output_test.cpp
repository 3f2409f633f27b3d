// A file reaches its final name whole or not at all, and nothing outside
// the destination is ever written, followed or removed: what held a name
// before stays when its file fails or the run is killed, whatever holds a
// temporary name (a leftover, a link) is replaced, never written into, and
// a folder swapped for a link while the run works in it sends nothing
// through it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <stdio.h>
#endif

#include "cli/run_extract.h"
#include "names/entry_name.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::string temporary_name(std::string_view name, bool folder) { return std::string(TemporaryName(name, folder).text()); }

TEST(SafeOutput, LinksUnderTheFinalOrTheTemporaryNameAreReplacedNotFollowed) {
  for (const bool under_temporary_name : {false, true}) {
    TempDir dir;
    const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("a", "new a"), source_file("b", "new b")})});
    fs::create_directories(dir / "out");
    write_file(dir / "hard", "outside, hard-linked");
    write_file(dir / "soft", "outside, sym-linked");
    // The temporary name is taken only when the final one is.
    if (under_temporary_name) {
      write_file(dir / "out" / "a", "old a");
      write_file(dir / "out" / "b", "old b");
    }
    auto name = [&](const char* final) { return dir / "out" / (under_temporary_name ? temporary_name(final, false) : final); };
    fs::create_hard_link(dir / "hard", name("a"));
    std::error_code no_symlinks;
    fs::create_symlink(dir / "soft", name("b"), no_symlinks);
    EXPECT_EQ(kelvarin({"e", utf8(archive), utf8(dir / "out")}).status, 0);
    EXPECT_EQ(read_file(dir / "hard"), "outside, hard-linked");
    EXPECT_EQ(read_file(dir / "soft"), "outside, sym-linked");
    EXPECT_EQ(snapshot(dir / "out"), (Tree{{"a", "new a"}, {"b", "new b"}})) << under_temporary_name;
  }
}

// The archive is cut while the run goes on, so the index promised bytes the
// copy can't read: that costs the new file, not the one that was there.
TEST(SafeOutput, ShortReadKeepsThePreviousFileAndTheWalkGoesOn) {
  if (kOnWindows) GTEST_SKIP() << "Windows lets no one shorten a file open for reading";
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("big", std::string(300'000, 'B')),
                                                                            source_file("small", "s")})},
                                         {EntryOrder::depth_first, DataOrder::reverse_entry_order});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "big", "previous");
  const Extracted run = extract_with(archive, dir / "out", {}, [&] { fs::resize_file(archive, fs::file_size(archive) - 1000); });
  EXPECT_EQ(run.summary.failed, 1u);
  EXPECT_EQ(run.lines, file_line("\\big", 300'000) + "ERROR: Unable to read the data of entry 1 for " + utf8(dir / "out") +
                           "\\big: the archive ends before its last byte\n" + file_line("\\small", 1));
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"big", "previous"}, {"small", "s"}}));
}

// A new folder's name taken by someone else while the run fills it, by an
// empty folder or one holding a file: what they put there stays, the run's
// files stay under the temporary name, and the failure says where they are.
TEST(SafeOutput, NewFolderWhoseNameWasTakenMeanwhileReplacesNothing) {
  for (const bool empty : {true, false}) {
    TempDir dir;
    const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")})})});
    fs::create_directories(dir / "out");
    const Extracted run = extract_with(archive, dir / "out", [&](const EntryVisit&) {
      fs::create_directories(dir / "out" / "d");
      if (!empty) write_file(dir / "out" / "d" / "theirs", "theirs");
    });
    const std::string temp = temporary_name("d", true);
    EXPECT_EQ(run.summary.failed, 1u) << empty;
    EXPECT_EQ(count_lines(run.lines, "ERROR: Unable to put folder " + utf8(dir / "out") + "\\d\\ in place: "), 1) << run.lines;
    EXPECT_EQ(run.lines.substr(run.lines.size() - temp.size() - 11), temp + " beside it\n");
    Tree expected = {{"d", "<dir>"}, {temp, "<dir>"}, {temp + "/x", "new x"}};
    if (!empty) expected["d/theirs"] = "theirs";
    EXPECT_EQ(snapshot(dir / "out"), expected) << empty;
  }
}

TEST(SafeOutput, WhatStandsInTheWayIsLeftAlone) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("was_folder", "file bytes"),
                                         source_folder("was_file", {source_file("x", "x"), source_file("y", "y")}),
                                         source_file("ok", "ok")})});
  make_tree(dir / "out", {{"was_folder/inner", "inner"}, {"was_file", "a file"}});
  const RunResult run = kelvarin({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, 2);
  // Nothing is tried inside the folder that is a file: one line for all.
  // The cause is the OS's: "Is a directory" on Linux.
  const std::string first = run.out.substr(run.out.find("ERROR: "), run.out.rfind("ERROR: ") - run.out.find("ERROR: "));
  EXPECT_EQ(first.substr(0, 43 + utf8(dir / "out").size()), "ERROR: Unable to create file: " + utf8(dir / "out") + "\\was_folder: ");
  EXPECT_GT(first.size(), 45 + utf8(dir / "out").size()) << first;
  // The cause doesn't contradict the line's fixed start, nor brq's words.
  EXPECT_EQ(count_lines(run.out, "ERROR: " + utf8(dir / "out") + "\\was_file\\ doesn't exist! (a file holds its name; "
                                 "the 2 entries inside it are skipped)"), 1) << run.out;
  // brq counts what was asked for inside it.
  for (const auto& [asked, count] : {std::pair{"was_file", "2 entries"}, std::pair{"was_file/x", "1 entry"}}) {
    const RunResult listed = brq({"extract", "-q", utf8(archive), utf8(dir / "out"), asked});
    EXPECT_EQ(count_lines(listed.err, "ERROR: Unable to make folder " + utf8(dir / "out") + "/was_file/: a file holds "
                                      "its name; the " + count + " inside it"), 1) << listed.err;
  }
  EXPECT_EQ(snapshot(dir / "out"),
            (Tree{{"was_folder", "<dir>"}, {"was_folder/inner", "inner"}, {"was_file", "a file"}, {"ok", "ok"}}));
}

// A folder the run makes is filled under a name of its own; what a killed
// run left there (planted links included) is removed, never followed. The
// removal itself: a tree, a file, a name already gone.
TEST(SafeOutput, LeftoversAreRemovedWholeWithoutFollowingLinks) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "new x")})})});
  const fs::path leftover = dir / "out" / temporary_name("d", true);
  make_tree(dir / "outside", {{"kept", "outside"}});
  make_tree(leftover, {{"x", "half"}, {"deep/deeper/y", "old y"}});
  fs::create_hard_link(dir / "outside" / "kept", leftover / "deep" / "hard");
  std::error_code no_symlinks;
  fs::create_directory_symlink(dir / "outside", leftover / "deep" / "soft", no_symlinks);
  EXPECT_EQ(kelvarin({"e", utf8(archive), utf8(dir / "out")}).status, 0);
  EXPECT_EQ(snapshot(dir / "outside"), (Tree{{"kept", "outside"}}));
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"d", "<dir>"}, {"d/x", "new x"}}));

  make_tree(dir / "left", {{"a/b/f", "x"}});
  write_file(dir / "file", "z");
  platform::Folder folder;
  ASSERT_TRUE(platform::open_folder(utf8(dir.path()), folder).ok());
  platform::NativeString name;
  for (const char* item : {"left", "file", "gone"}) {
    platform::native_name(item, name);
    const Error removed = platform::os_file_system().remove_tree(folder, name);
    EXPECT_TRUE(removed.ok()) << item << ": " << removed.message();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / item))) << item;
  }
}

// On Windows a folder the run is filling can't be renamed away while the
// run holds it (Linux: the exchanges below), and the rest of its files go in.
TEST(SafeOutput, FolderBeingFilledCantBeMovedOnWindows) {
  if (!kOnWindows) GTEST_SKIP() << "Windows only";
  for (const bool existing : {true, false}) {
    TempDir dir;
    const fs::path archive = write_archive(
        dir / "a.brq", {source_folder("", {source_folder("d", {source_file("x1", "1"), source_file("x2", "2")})})});
    fs::create_directories(existing ? dir / "out" / "d" : dir / "out");
    std::error_code error;
    const Extracted run = extract_with(archive, dir / "out", [&](const EntryVisit& file) {
      if (file.name == "x1") fs::rename(dir / "out" / (existing ? "d" : temporary_name("d", true)), dir / "out" / "moved", error);
    });
    EXPECT_TRUE(error && run.summary.complete()) << run.lines;
    EXPECT_EQ(snapshot(dir / "out"), (Tree{{"d", "<dir>"}, {"d/x1", "1"}, {"d/x2", "2"}})) << existing;
  }
}

constexpr std::uint64_t kFileLimit = 1 << 20;

// The extraction in a child where no file may grow past kFileLimit: a
// write beyond fails with EFBIG, as on a full disk. It starts as the
// executable does (which ignores the signal such a write raises), or, given
// `while_stopped`, is stopped at that write and killed once it has looked.
Child limited_run(const fs::path& archive, const fs::path& out, const std::function<void()>& while_stopped = {}) {
  std::vector<std::string> words{"Kelvarin_Extract", "e", utf8(archive), utf8(out)};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return run_in_child(
      [&] {
        if (while_stopped) return run_extract(4, argv.data());
        return platform::run_main(4, argv.data(), [](int argc, char** args) { return run_extract(argc, args); },
                                  [] { return out_of_memory(); });
      },
      kFileLimit, while_stopped);
}

// Files by size, so that a failure doesn't print megabytes.
Tree sizes(const fs::path& root) {
  Tree listing = snapshot(root);
  for (auto& [name, bytes] : listing) {
    if (bytes != "<dir>") bytes = std::to_string(bytes.size()) + " bytes";
  }
  return listing;
}

// "big" outgrows the limit, in a folder that exists (holding the file's
// previous version) or that the run makes; "last" and "after" come later.
// A write failing half-way keeps the previous file and the walk goes on; a
// run killed there shows nothing of its file (it has no name until it is
// whole) and, in a new folder, nothing of the folder until the next run.
TEST(SafeOutput, WriteFailingOrKilledHalfWayLeavesWhatWasThere) {
  if (kOnWindows) GTEST_SKIP() << "needs POSIX fork, file size limits and signals";
  const std::string big = pattern(3 * kFileLimit + 12345, 1);
  const std::string previous = pattern(70'000, 2);
  const std::string staging(TemporaryName("d", true).text());
  for (const bool existing : {true, false}) {
    TempDir dir;
    const fs::path archive = write_archive(
        dir / "a.brq", {source_folder("", {source_folder("d", {source_file("first", "first"), source_file("big", big),
                                                               source_file("last", "last")}),
                                           source_file("after", "after")})});
    const fs::path out = dir / "out";
    auto prepare = [&] {
      fs::remove_all(out);
      fs::create_directories(existing ? out / "d" : out);
      if (existing) write_file(out / "d" / "big", previous);
    };
    prepare();
    const std::string what = existing ? "existing folder" : "new folder";
    const Child failed = limited_run(archive, out);
    EXPECT_EQ(failed.status, 2) << what << "\n" << failed.out;
    EXPECT_EQ(failed.out, kBanner + file_line("\\d\\first", 5) + file_line("\\d\\big", static_cast<long>(big.size())) +
                              "ERROR: Unable to write file: " + utf8(out) + "\\d\\big: File too large\n" +
                              file_line("\\d\\last", 4) + file_line("\\after", 5)) << what;
    Tree expected = {{"d", "<dir>"}, {"d/first", "5 bytes"}, {"d/last", "4 bytes"}, {"after", "5 bytes"}};
    if (existing) expected["d/big"] = "70000 bytes";
    EXPECT_EQ(sizes(out), expected) << what;

    prepare();
    // Stopped at the write that fails, then killed: the file being written
    // has no name (in a folder that was there, the previous one keeps its
    // own), a new folder has none either (what is in it may be written
    // still), and whatever else the workers wrote meanwhile is whole.
    const Tree whole = {{"d/first", "5 bytes"}, {"d/last", "4 bytes"}, {"after", "5 bytes"}};
    auto left_whole = [&] {
      for (const auto& [path, size] : sizes(out)) {
        if (size == "<dir>" || path.rfind(staging, 0) == 0) continue;
        if (path == "d/big") {
          EXPECT_TRUE(existing && size == "70000 bytes") << what << ": " << size;
        } else {
          EXPECT_EQ(whole.count(path) != 0 ? whole.at(path) : "nothing", size) << what << ": " << path;
        }
      }
      EXPECT_EQ(fs::exists(out / "d"), existing) << what;
    };
    bool looked = false;
    const Child killed = limited_run(archive, out, [&] {
      looked = true;
      left_whole();
    });
    EXPECT_TRUE(killed.killed && looked) << what;
    left_whole();
    const RunResult again = kelvarin({"e", utf8(archive), utf8(out)});
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(snapshot(out), (Tree{{"d", "<dir>"}, {"d/first", "first"}, {"d/big", big}, {"d/last", "last"},
                                   {"after", "after"}})) << what;
  }
}

#ifndef _WIN32
// The files below `folder`: s0 to s19, ten files in each. The same shape
// outside the destination as in the leftover, so that a removal sent
// through the link finds something to remove.
void make_shaped_tree(const fs::path& folder, const std::string& bytes) {
  for (int i = 0; i < 20; ++i) {
    const fs::path sub = folder / ("s" + std::to_string(i));
    fs::create_directories(sub);
    for (int j = 0; j < 10; ++j) write_file(sub / ("keep" + std::to_string(j)), bytes);
  }
}
#endif

// A thread exchanges a folder the run works in with a link to a folder
// outside, back and forth, while the run fills it (rounds 0 and 1: existing
// or new) or removes a killed run's leftover holding it (the rest): nothing
// outside may appear, change or disappear. Two tests, which run side by side.
void swap_all_the_time([[maybe_unused]] int first_round, [[maybe_unused]] int last_round) {
#ifdef _WIN32
  GTEST_SKIP() << "needs renameat2";
#else
  TempDir dir;
  std::vector<SourceNode> files;
  for (int i = 0; i < 1000; ++i) files.push_back(source_file("f" + std::to_string(i), "x"));
  const std::vector<SourceNode> many = {source_folder("", {source_folder("d", files)})};
  const std::vector<SourceNode> one = {source_folder("", {source_folder("d", {source_file("x", "new x")})})};
  make_shaped_tree(dir / "outside", "outside");
  const Tree outside = snapshot(dir / "outside");
  const std::string staging = temporary_name("d", true);
  std::atomic<int> swaps{0};
  for (int round = first_round; round <= last_round; ++round) {
    const fs::path out = dir / ("out" + std::to_string(round));
    fs::path swapped = out / staging;  // a new folder, filled under its temporary name
    if (round == 0) swapped = out / "d";
    if (round >= 2) {
      swapped = out / staging / "sub";
      make_shaped_tree(swapped, "left");
    }
    fs::create_directories(swapped);
    if (round == 1) fs::remove(swapped);
    // Beside the folder: a link inside a leftover would be removed as a
    // name before any exchange could send the removal through it.
    fs::create_directory_symlink(dir / "outside", out / "swap");
    const fs::path archive = write_archive(dir / "a.brq", round < 2 ? many : one);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      while (!stop) swaps += ::renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, (out / "swap").c_str(), RENAME_EXCHANGE) == 0;
    });
    kelvarin({"e", utf8(archive), utf8(out)});
    stop = true;
    swapper.join();
    const Tree now = snapshot(dir / "outside");
    EXPECT_TRUE(now == outside) << "round " << round << ": " << now.size() << " names outside, " << outside.size()
                                << " before";
  }
  EXPECT_GT(swaps, 0);
#endif
}

TEST(SafeOutput, FoldersBeingFilledAndSwappedSendNothingOutside) { swap_all_the_time(0, 1); }
TEST(SafeOutput, LeftoversBeingRemovedAndSwappedTakeNothingOutside) { swap_all_the_time(2, 11); }

}  // namespace
}  // namespace kelvarin::testing
