// Hostile archives beyond the recorded ones (fuzz/regressions/, whose
// outcomes the replay test checks): an archive cut at every byte, counts
// that claim more than the archive holds, and trees shaped to exhaust a
// recursive walk or flood the output.
#include <gtest/gtest.h>

#include <fstream>

#include "archive/archive_index.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// One file entry, "solo" holding "12345", whose offset table claims
// `offset_count` words and whose name pool `pool_size` bytes, the name at
// the pool's end. Written sparse: what lies between is never written.
fs::path sparse_archive(const fs::path& path, std::uint32_t offset_count, std::uint32_t pool_size) {
  const std::uint64_t names = kHeaderSize + kEntryRecordSize + kSizeRecordSize + 4ull * offset_count;
  const std::uint64_t data = (names + pool_size + 15) / 16 * 16;
  std::uint8_t index[kHeaderSize + kEntryRecordSize + kSizeRecordSize + 4] = {};
  encode_header({0, 0, 1, offset_count, pool_size, 0}, index);
  encode_entry({kNoEntry, kNoEntry, kNoEntry, pool_size - 5}, index + kHeaderSize);
  encode_size({0, 5, 0}, index + kHeaderSize + kEntryRecordSize);
  store_u32(index + kHeaderSize + kEntryRecordSize + kSizeRecordSize, static_cast<std::uint32_t>(data / 16));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(index), sizeof index);
  out.seekp(static_cast<std::streamoff>(names + pool_size - 5));
  out.write("solo\0", 5);
  out.seekp(static_cast<std::streamoff>(data));
  out.write("12345", 5);
  EXPECT_TRUE(out.good());
  return path;
}

TEST(HostileArchive, MemoryFollowsWhatTheIndexCanUseNotWhatItClaims) {
  TempDir dir;
  // 2^27 - 1 entries claimed in 100 bytes: refused before anything is
  // allocated for them.
  std::string claim(100, '\0');
  store_u32(reinterpret_cast<std::uint8_t*>(claim.data()) + 8, (1u << 27) - 1);
  write_file(dir / "claim.brq", claim);
  const Child refused = run_in_child([&] {
    return ArchiveIndex::open(utf8(dir / "claim.brq")).error().cause().find("index needs") == std::string::npos;
  });
  // One file, with 4 GiB of offset words claimed, or a 4 GiB name pool:
  // only the one word and the one name are read.
  for (const auto& [offsets, pool] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{(1u << 30) - 1, 5},
                                                                                       {1, 0xFFFFFFF0u}}) {
    const fs::path archive = sparse_archive(dir / "sparse.brq", offsets, pool);
    const fs::path out = dir / ("out" + std::to_string(offsets));
    if (!refused.ran) {  // no memory figures here
      EXPECT_TRUE(extract_with(archive, out).summary.complete());
      continue;
    }
    const Child loaded = run_in_child([&] { return extract_with(archive, out).summary.complete() ? 0 : 1; });
    EXPECT_EQ(std::make_pair(refused.status, loaded.status), std::make_pair(0, 0)) << offsets;
    EXPECT_EQ(read_file(out / "solo"), "12345") << offsets;
    EXPECT_LT(loaded.peak_kib, refused.peak_kib + 64 * 1024) << offsets;
  }
}

// Cut before the index ends, the archive is refused whole (status 1, one
// line, nothing made); after, the files whose data are cut are skipped.
TEST(HostileArchive, ArchiveCutAtEveryByte) {
  const std::vector<SourceNode> top_level = {
      source_folder("", {source_folder("d", {source_folder("e", {source_file("f", "FFFF")}), source_file("g", "GG")}),
                         source_file("h", "HHHHHHHH")}),
      source_folder("s", {source_file("t", "T")})};
  const ArchiveLayout layout = lay_out(top_level).value();
  const std::string whole = archive_bytes(layout);
  const std::size_t index_end = index_size(8, 4, layout.name_pool.size());
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    TempDir sandbox;
    write_file(sandbox / "a.brq", whole.substr(0, cut));
    const RunResult run = kelvarin({"e", utf8(sandbox / "a.brq"), utf8(sandbox / "out")});
    const std::string what = "cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()) + "\n" + run.out;
    EXPECT_EQ(strays(sandbox.path(), "out", {"a.brq"}), std::vector<std::string>{}) << what;
    EXPECT_EQ(fs::exists(sandbox / "out"), cut >= index_end) << what;
    const std::string cause = cut < kHeaderSize ? "too short" : cut < index_end ? "but the archive has " + std::to_string(cut)
                              : cut < whole.size() ? "end beyond the archive's end (" + std::to_string(cut) + " bytes)" : "";
    EXPECT_EQ(run.status, cut < index_end ? 1 : cut < whole.size() ? 2 : 0) << what;
    EXPECT_EQ(count_lines(run.out, "ERROR: "), count_lines(run.out, cut < index_end ? "ERROR: " : "ERROR: Skipping entry "));
    EXPECT_TRUE(cut >= index_end || count_lines(run.out, "") == 4) << what;  // the banner's three and one
    EXPECT_NE(run.out.find(cause), std::string::npos) << what;
  }
}

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

// The folders can be made: down to 512 levels, then one line for the rest.
TEST(HostileArchive, FourHundredThousandLevelsStopAtTheDepthLimit) {
  TempDir dir;
  write_file(dir / "a.brq", nested_archive(400'000));
  const RunResult deep = kelvarin({"e", utf8(dir / "a.brq"), utf8(dir / "out")});
  EXPECT_EQ(deep.status, 2);
  std::string refused_path = "\\";
  for (int level = 0; level < 513; ++level) refused_path += "d\\";
  refused_path.pop_back();
  EXPECT_EQ(deep.out, kBanner + "ERROR: Skipping entry 513, " + refused_path + ": it lies inside 513 folders, more "
                          "than the 512 a tree may nest; the 399488 entries inside it are skipped\n");
  fs::path deepest = dir / "out";
  for (int level = 0; level < 512; ++level) deepest /= "d";
  EXPECT_TRUE(fs::is_directory(long_form(deepest)));
  EXPECT_FALSE(fs::exists(long_form(deepest / "d")));
  remove_upwards(deepest, dir / "out");
}

}  // namespace
}  // namespace kelvarin::testing
