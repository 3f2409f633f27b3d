// Trees whose shape would exhaust a recursive walk or flood the output: a
// very long sibling chain and a very deep nesting, in folders that can and
// can't be made. Output and time stay proportional to the archive.
#include <gtest/gtest.h>

#include "extract/entry_name.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// A root holding `depth` folders named "d", each inside the one before,
// the deepest holding a file. Laid out by hand: a tree this deep in
// SourceNodes would take the call stack down with it when destroyed.
std::string nested_archive(std::uint32_t depth) {
  static const SourceNode leaf = source_file("leaf", "L");
  ArchiveLayout layout;
  const std::uint32_t entries = depth + 2;
  layout.entries.resize(entries);
  layout.sizes.resize(entries);
  layout.name_pool = std::string("\0d\0leaf\0", 8);
  for (std::uint32_t i = 0; i + 1 < entries; ++i) {
    layout.entries[i].first_child = static_cast<std::int32_t>(i + 1);
    layout.entries[i].name_offset = i == 0 ? 0 : 1;
  }
  layout.entries.back().name_offset = 3;
  layout.sizes.back().file_size = 1;
  layout.header.entry_count = static_cast<std::int32_t>(entries);
  layout.header.offset_count = 1;
  layout.header.name_pool_size = static_cast<std::uint32_t>(layout.name_pool.size());
  const std::uint64_t data = (index_size(entries, 1, layout.name_pool.size()) + 15) / 16 * 16;
  layout.offsets = {static_cast<std::uint32_t>(data / 16)};
  layout.data = {{data, &leaf}};
  return archive_bytes(layout);
}

TEST(LongWalk, HugeSiblingChainInAFolderThatCantBeMadeIsOneLine) {
  TempDir dir;
  constexpr int kFiles = 300'000;
  std::vector<SourceNode> files(kFiles);
  for (int i = 0; i < kFiles; ++i) files[i] = source_file("f" + std::to_string(i), "x");
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_folder("d", std::move(files))})});
  fs::create_directories(dir / "out");
  write_file(dir / "out" / "d", "in the way");
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, kBanner + "ERROR: " + utf8(dir / "out") +
                         "\\d\\ doesn't exist! (exists and is not a folder; the 300000 entries "
                         "inside it are skipped)\n");
}

TEST(LongWalk, FourHundredThousandLevelsStopAtTheDepthLimitOrTheFirstFailure) {
  TempDir dir;
  constexpr std::uint32_t kDepth = 400'000;
  write_file(dir / "a.brq", nested_archive(kDepth));
  // The first folder can't be made: one line for all of it.
  fs::create_directories(dir / "blocked");
  write_file(dir / "blocked" / "d", "in the way");
  RunResult blocked = run_program({"e", utf8(dir / "a.brq"), utf8(dir / "blocked")});
  EXPECT_EQ(blocked.status, 2);
  EXPECT_EQ(blocked.out, kBanner + "ERROR: " + utf8(dir / "blocked") +
                             "\\d\\ doesn't exist! (exists and is not a folder; the 400000 "
                             "entries inside it are skipped)\n");

  // The folders can be made: down to the limit, then one line for the rest.
  RunResult deep = run_program({"e", utf8(dir / "a.brq"), utf8(dir / "out")});
  EXPECT_EQ(deep.status, 2);
  EXPECT_EQ(count_lines(deep.out, ""), 4) << deep.out.substr(0, 300);
  std::string refused_path = "\\";
  for (std::uint32_t level = 0; level <= kMaxFolderDepth; ++level) refused_path += "d\\";
  refused_path.pop_back();
  EXPECT_EQ(deep.out, kBanner + "ERROR: Skipping entry " + std::to_string(kMaxFolderDepth + 1) + ", " +
                          refused_path + ": it lies inside " + std::to_string(kMaxFolderDepth + 1) +
                          " folders, more than the " + std::to_string(kMaxFolderDepth) +
                          " a tree may nest; the " + std::to_string(kDepth - kMaxFolderDepth) +
                          " entries inside it are skipped\n");
  fs::path deepest = dir / "out";
  std::uint32_t levels = 0;
  while (fs::is_directory(long_form(deepest / "d"))) {
    deepest /= "d";
    ++levels;
  }
  EXPECT_EQ(levels, kMaxFolderDepth);
  remove_upwards(deepest, dir / "out");
}

}  // namespace
}  // namespace kelvarin::testing
