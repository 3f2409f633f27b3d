// brq pack: a folder comes back whole through Kelvarin_Extract, the same
// tree always packs to the writer's bytes (whose every field the bundled
// sample pins down), and what an archive can't hold is refused with
// nothing written.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>

#include "brq/folder_source.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// A deterministic folder of `count` files of mixed sizes (empty, beyond a
// copy chunk) and names, over nested and empty folders and the top level.
void make_mixed_tree(const fs::path& root, int count) {
  static const std::vector<std::string> kStems = {"Map", "a b", "\xC3\xA9t\xC3\xA9", ".hidden", "it's"};
  static const std::vector<std::string> kFolders = {"", "maps", "maps/deep/er", "\xE6\x97\xA5", "empty"};
  for (const std::string& folder : kFolders) fs::create_directories(root / folder);
  std::uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  for (int i = 0; i < count; ++i) {
    const std::string& folder = kFolders[next() % (kFolders.size() - 1)];
    std::size_t size = i % 50 == 3 ? 0 : i == 500 ? 1'100'000 : next() % 4096;
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(next());
    write_file(root / folder / (kStems[next() % kStems.size()] + "-" + std::to_string(i)), bytes);
  }
}

TEST(BrqPack, ThousandMixedFilesComeBackWholeAndPackToTheSameBytes) {
  TempDir dir;
  make_mixed_tree(dir / "src", 1000);
  RunResult first = run_brq({"pack", (dir / "src").string(), (dir / "one.brq").string()});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("1000 files"), std::string::npos) << first.out;
  EXPECT_EQ(first.err, "");
  RunResult second = run_brq({"pack", (dir / "src").string(), (dir / "two.brq").string()});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(read_file(dir / "one.brq"), read_file(dir / "two.brq"));

  RunResult run = run_program({"e", (dir / "one.brq").string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 2000);
  EXPECT_EQ(count_lines(run.out, "\\"), 1000);
  EXPECT_EQ(snapshot(dir / "out"), snapshot(dir / "src"));
}

TEST(BrqPack, ReplacesAnExistingArchiveAndLeavesNoTemporaryFile) {
  TempDir dir;
  fs::create_directories(dir / "src" / "empty");
  write_file(dir / "src" / "f", "bytes");
  write_file(dir / "a.brq", std::string(100'000, 'x'));
  RunResult run = run_brq({"pack", (dir / "src").string(), (dir / "a.brq").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<SourceNode> expected = {
      source_folder("", {source_folder("empty"), source_file("f", "bytes")})};
  EXPECT_EQ(read_file(dir / "a.brq"), archive_bytes(lay_out(expected)));
  std::size_t items = 0;
  for (const auto& item : fs::directory_iterator(dir.path())) items += item.path().filename() != "src";
  EXPECT_EQ(items, 1u);
}

TEST(BrqPack, WhatAnArchiveCantHoldIsRefusedAndNothingIsWritten) {
  struct Refused {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string message;
    bool posix_only = false;  // such names and links can't be made on Windows
  };
  const std::vector<Refused> cases = {
      {"backslash in a name", [](const fs::path& src) { write_file(src / "a\\b", "x"); },
       "a\\b: the name holds a path separator", true},
      {"name not UTF-8", [](const fs::path& src) { write_file(src / "bad\xFF", "x"); },
       "the name is not UTF-8", true},
      {"link", [](const fs::path& src) { fs::create_symlink("/etc/hostname", src / "link"); },
       "link: is a link", true},
      {"file of 2 GiB",
       [](const fs::path& src) {
         write_file(src / "big", "");
         fs::resize_file(src / "big", std::uint64_t{1} << 31);  // sparse
       },
       "big: the file has 2147483648 bytes"},
  };
  for (const Refused& refused : cases) {
    if (refused.posix_only && kOnWindows) continue;
    TempDir dir;
    fs::create_directories(dir / "src" / "sub");
    write_file(dir / "src" / "ok", "fine");
    refused.make(dir / "src" / "sub");
    RunResult run = run_brq({"pack", (dir / "src").string(), (dir / "a.brq").string()});
    EXPECT_EQ(run.status, 2) << refused.what;
    EXPECT_NE(run.err.find("ERROR: " + (dir / "src").string() + "/sub/"), std::string::npos)
        << refused.what << "\n" << run.err;
    EXPECT_NE(run.err.find(refused.message), std::string::npos) << refused.what << "\n" << run.err;
    EXPECT_NE(run.err.find("Nothing written"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    // Only the source folder: no archive, no temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << refused.what;
  }
}

TEST(BrqPack, ArchiveInsideThePackedFolderIsRefused) {
  TempDir dir;
  fs::create_directories(dir / "src" / "sub");
  write_file(dir / "src" / "f", "x");
  std::vector<fs::path> targets = {dir / "src" / "sub" / ".." / "a.brq", dir / "src"};
  // The same folder under another name: told by what it is, not its spelling.
  std::error_code no_symlinks;
  fs::create_directory_symlink(dir / "src" / "sub", dir / "alias", no_symlinks);
  if (!no_symlinks) targets.push_back(dir / "alias" / "a.brq");
  for (const fs::path& target : targets) {
    RunResult run = run_brq({"pack", (dir / "src").string(), target.string()});
    EXPECT_EQ(run.status, 1) << target;
    EXPECT_NE(run.err.find("ERROR: "), std::string::npos) << run.err;
  }
  EXPECT_EQ(snapshot(dir / "src").size(), 2u);
  RunResult missing = run_brq({"pack", (dir / "nowhere").string(), (dir / "a.brq").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
}

// Between the scan and the read, a file is swapped for a link to a secret,
// for another file, or its folder for a link: what is read must be what
// was scanned, so each is refused and the secret never reaches the archive.
TEST(BrqPack, FilesSwappedAfterTheScanAreRefusedNotPacked) {
  if (kOnWindows) GTEST_SKIP() << "needs symbolic links";
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> swaps = {
      {"is a link", [](const fs::path& dir) {
         fs::remove(dir / "src" / "sub" / "f");
         fs::create_symlink(dir / "secret", dir / "src" / "sub" / "f");
       }},
      {"changed while", [](const fs::path& dir) {
         fs::remove(dir / "src" / "sub" / "f");
         write_file(dir / "src" / "sub" / "f", "SECR");
       }},
      {"is a link", [](const fs::path& dir) {
         fs::rename(dir / "src" / "sub", dir / "moved");
         fs::create_directories(dir / "elsewhere");
         fs::create_symlink(dir / "secret", dir / "elsewhere" / "f");
         fs::create_directory_symlink(dir / "elsewhere", dir / "src" / "sub");
       }},
  };
  for (const auto& [cause, swap] : swaps) {
    TempDir dir;
    fs::create_directories(dir / "src" / "sub");
    write_file(dir / "src" / "sub" / "f", "fine");
    write_file(dir / "secret", "SECR");
    platform::Folder root;
    ASSERT_TRUE(platform::open_folder(utf8(dir / "src"), false, root).ok());
    brq::FolderSource files(std::move(root), utf8(dir / "src"));
    std::vector<std::string> problems;
    const std::vector<SourceNode> tree = {files.scan(problems)};
    ASSERT_EQ(problems, std::vector<std::string>{});
    const ArchiveLayout layout = lay_out(tree);
    swap(dir.path());
    std::string written;
    const Error error = write_archive(
        layout,
        [&](const char* bytes, std::size_t length) {
          written.append(bytes, length);
          return Error{};
        },
        &files);
    EXPECT_NE(error.cause().find(cause), std::string::npos) << cause << ": " << error.cause();
    EXPECT_EQ(error.path(), utf8(dir / "src") + "/sub/f");
    EXPECT_EQ(written.find("SECR"), std::string::npos) << cause;
  }
}

TEST(BrqPack, DataBeyondWhatTheOffsetTableCanNameIsRefused) {
  // 33 files just under 2 GiB each: the last begins past 64 GiB. Nothing is
  // read to find that out, so the files need not exist.
  std::vector<SourceNode> files(33);
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].name = "f" + std::to_string(i);
    files[i].disk_file = i;
    files[i].size = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  }
  const std::vector<SourceNode> tree = {source_folder("", std::move(files))};
  ArchiveLayout layout = lay_out(tree);
  EXPECT_NE(layout.error.find("64 GiB"), std::string::npos) << layout.error;
}

}  // namespace
}  // namespace kelvarin::testing
