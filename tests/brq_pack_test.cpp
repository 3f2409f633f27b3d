// brq pack: a folder comes back whole through Kelvarin_Extract, the same
// tree always packs to the same bytes, what an archive can't hold is
// refused with nothing written, and the fields no reader interprets are
// written as 0 (third_link as -1).
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::uint32_t word_at(const std::string& bytes, std::size_t at) {
  return load_u32(reinterpret_cast<const std::uint8_t*>(bytes.data() + at));
}

// A deterministic folder of `count` files of mixed sizes and names, spread
// over nested folders, with a few empty folders among them.
void make_mixed_tree(const fs::path& root, int count) {
  static const std::vector<std::string> kStems = {
      "map", "Map", "texture", "a b c", "\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC",
      ".hidden", "x#1", "it's", "(copy)", "100%", "z"};
  static const std::vector<std::string> kFolders = {"maps", "maps/deep", "maps/deep/er", "sounds",
                                                    "sounds/ambient", "\xC3\xA9t\xC3\xA9",
                                                    "textures", "textures/stone"};
  for (const std::string& folder : kFolders) fs::create_directories(root / folder);
  for (const char* empty : {"empty", "maps/empty", "sounds/ambient/nothing"}) {
    fs::create_directories(root / empty);
  }
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int i = 0; i < count; ++i) {
    const std::string& folder = kFolders[next() % kFolders.size()];
    const std::string name = kStems[next() % kStems.size()] + "-" + std::to_string(i) + ".bin";
    std::size_t size = next() % 4096;
    if (i % 100 == 7) size = 100'000 + next() % 50'000;
    if (i == 500) size = 1'100'000;  // beyond one copy chunk
    if (i % 50 == 3) size = 0;
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(next());
    write_file(root / folder / name, bytes);
  }
  // Top-level files too, beside the folders.
  write_file(root / "readme.txt", "top level\n");
}

TEST(BrqPack, ThousandMixedFilesComeBackWholeAndPackToTheSameBytes) {
  TempDir dir;
  make_mixed_tree(dir / "src", 1000);
  RunResult first = run_brq({"pack", (dir / "src").string(), (dir / "one.brq").string()});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("1001 files"), std::string::npos) << first.out;
  EXPECT_EQ(first.err, "");
  RunResult second = run_brq({"pack", (dir / "src").string(), (dir / "two.brq").string()});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(read_file(dir / "one.brq"), read_file(dir / "two.brq"));

  RunResult run = run_program({"e", (dir / "one.brq").string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out.substr(0, 2000);
  EXPECT_EQ(count_lines(run.out, "\\"), 1001);
  EXPECT_EQ(snapshot(dir / "out"), snapshot(dir / "src"));

  RunResult own = run_brq({"extract", "--quiet", (dir / "one.brq").string(), (dir / "own").string()});
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out, "");
  EXPECT_EQ(snapshot(dir / "own"), snapshot(dir / "src"));
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

TEST(BrqPack, FieldsTheReaderDoesNotInterpretAreZeroAndThirdLinkIsMinusOne) {
  TempDir dir;
  fs::create_directories(dir / "src" / "d");
  write_file(dir / "src" / "d" / "a", "AAA");
  write_file(dir / "src" / "b", std::string(33, 'B'));
  write_file(dir / "src" / "c", "C");
  ASSERT_EQ(run_brq({"pack", (dir / "src").string(), (dir / "a.brq").string()}).status, 0);
  const std::string bytes = read_file(dir / "a.brq");
  const std::uint32_t entries = word_at(bytes, 8);
  const std::uint32_t files = word_at(bytes, 12);
  ASSERT_EQ(entries, 5u);
  ASSERT_EQ(files, 3u);
  EXPECT_EQ(word_at(bytes, 0), 0u);
  EXPECT_EQ(word_at(bytes, 4), 0u);
  EXPECT_EQ(word_at(bytes, 20), 0u);
  for (std::uint32_t i = 0; i < entries; ++i) {
    EXPECT_EQ(word_at(bytes, 24 + 16 * i + 8), 0xFFFFFFFFu) << "third_link of entry " << i;
    EXPECT_EQ(word_at(bytes, 24 + 16 * entries + 12 * i), 0u) << "size word 0 of entry " << i;
    EXPECT_EQ(word_at(bytes, 24 + 16 * entries + 12 * i + 8), 0u) << "size word 2 of entry " << i;
  }
  // Between the index and each file's data only zero bytes, and each file
  // starts on a 16-byte boundary. Entry order is root, b, c, d, d/a.
  const std::size_t offsets = 24 + 28 * entries;
  std::size_t end = offsets + 4 * files + word_at(bytes, 16);
  const std::vector<std::size_t> sizes = {33, 1, 3};
  for (std::uint32_t k = 0; k < files; ++k) {
    const std::size_t position = std::size_t{word_at(bytes, offsets + 4 * k)} * 16;
    ASSERT_GE(position, end);
    EXPECT_EQ(bytes.substr(end, position - end), std::string(position - end, '\0'));
    end = position + sizes[k];
  }
  EXPECT_EQ(end, bytes.size());
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
  for (const fs::path& target : {dir / "src" / "a.brq", dir / "src" / "sub" / "a.brq",
                                 dir / "src" / "sub" / ".." / "a.brq", dir / "src"}) {
    RunResult run = run_brq({"pack", (dir / "src").string(), target.string()});
    EXPECT_EQ(run.status, 1) << target;
    EXPECT_NE(run.err.find("ERROR: "), std::string::npos) << run.err;
  }
  EXPECT_EQ(snapshot(dir / "src").size(), 2u);
  RunResult missing = run_brq({"pack", (dir / "nowhere").string(), (dir / "a.brq").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
}

TEST(BrqPack, DataBeyondWhatTheOffsetTableCanNameIsRefused) {
  // 33 files just under 2 GiB each: the last begins past 64 GiB. Nothing is
  // read to find that out, so the files need not exist.
  std::vector<SourceNode> files(33);
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].name = "f" + std::to_string(i);
    files[i].source_path = "unused";
    files[i].size = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  }
  const std::vector<SourceNode> tree = {source_folder("", std::move(files))};
  ArchiveLayout layout = lay_out(tree);
  EXPECT_NE(layout.error.find("64 GiB"), std::string::npos) << layout.error;
}

}  // namespace
}  // namespace kelvarin::testing
