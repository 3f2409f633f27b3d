// Damaged and forged indexes. An unusable index (a count past its limit,
// a link out of the table, a loop or shared entry, a cut) refuses the
// archive whole with status 1, one "ERROR: " line and nothing created; a
// damaged entry is skipped with the rest extracted. Nothing ever lands
// outside the destination, and the format's sound corners are taken.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>

#include "archive/archive_index.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Entries, depth-first: 0 root "", 1 "d", 2 "d/e", 3 "d/e/f", 4 "d/g",
// 5 "h", then the root's sibling 6 "s" holding 7 "s/t".
std::vector<SourceNode> tree() {
  return {source_folder("", {source_folder("d", {source_folder("e", {source_file("f", "FFFF")}),
                                                 source_file("g", "GG")}),
                             source_file("h", "HHHHHHHHHHHHHHHHHHHH")}),
          source_folder("s", {source_file("t", "T")})};
}

// An edit of a sound archive's layout and the cause its error line names.
struct Forged {
  const char* what;
  std::function<void(ArchiveLayout&)> edit;
  std::string cause;
};

struct Extraction {
  RunResult run;
  std::vector<std::string> strays;
  std::map<std::string, std::string> out;
  bool destination_exists = false;
};

Extraction extract(const std::string& bytes) {
  TempDir sandbox;
  write_file(sandbox / "a.brq", bytes);
  Extraction result;
  result.run = run_in_process({"e", (sandbox / "a.brq").string(), (sandbox / "out").string()});
  result.strays = strays(sandbox.path(), "out", {"a.brq"});
  result.out = snapshot(sandbox / "out");
  result.destination_exists = fs::exists(sandbox / "out");
  return result;
}

Extraction extract_forged(const std::function<void(ArchiveLayout&)>& edit,
                          const std::vector<SourceNode>& top_level = tree()) {
  ArchiveLayout layout = lay_out(top_level);
  edit(layout);
  return extract(archive_bytes(layout));
}

void expect_refused(const Extraction& e, const std::string& cause, const std::string& what) {
  EXPECT_EQ(e.run.status, 1) << what;
  ASSERT_EQ(e.run.out.rfind(kBanner + "ERROR: ", 0), 0u) << what << "\n" << e.run.out;
  EXPECT_EQ(count_lines(e.run.out.substr(kBanner.size()), ""), 1) << what << "\n" << e.run.out;
  EXPECT_NE(e.run.out.find(cause), std::string::npos) << what << "\n" << e.run.out;
  EXPECT_FALSE(e.destination_exists) << what;
  EXPECT_EQ(e.strays, std::vector<std::string>{}) << what;
}

// Status 2, the one "ERROR: Skipping " line beginning with `cause`, nothing
// outside the destination.
void expect_skipped(const Extraction& e, const std::string& cause, const std::string& what) {
  EXPECT_EQ(e.run.status, 2) << what;
  EXPECT_EQ(count_lines(e.run.out, "ERROR: "), 1) << what << "\n" << e.run.out;
  EXPECT_EQ(count_lines(e.run.out, "ERROR: Skipping " + cause), 1) << what << "\n" << e.run.out;
  EXPECT_EQ(e.strays, std::vector<std::string>{}) << what;
}

TEST(HostileArchive, BadLinksLoopsAndSharedEntriesAreRefusedWhole) {
  const std::vector<Forged> cases = {
      {"sibling beyond the table", [](ArchiveLayout& l) { l.entries[2].next_sibling = 8; },
       "entry 2 names entry 8"},
      {"child below -1", [](ArchiveLayout& l) { l.entries[1].first_child = -2; },
       "entry 1 names entry -2"},
      {"self link", [](ArchiveLayout& l) { l.entries[1].first_child = 1; }, "entry 1 is reached twice"},
      {"folder holding its own parent", [](ArchiveLayout& l) { l.entries[2].first_child = 1; },
       "entry 1 is reached twice"},
      {"sibling chain back into itself", [](ArchiveLayout& l) { l.entries[5].next_sibling = 1; },
       "entry 1 is reached twice"},
      {"two folders share a child", [](ArchiveLayout& l) { l.entries[6].first_child = 3; },
       "entry 3 is reached twice"},
      {"file made a folder over a shared entry",
       [](ArchiveLayout& l) { l.entries[5].first_child = 7; }, "entry 7 is reached twice"},
      {"root's sibling holding itself", [](ArchiveLayout& l) { l.entries[7].next_sibling = 6; },
       "entry 6 is reached twice"},
  };
  for (const auto& [what, edit, cause] : cases) expect_refused(extract_forged(edit), cause, what);
}

TEST(HostileArchive, CountsAtAndPastTheirLimits) {
  constexpr std::int32_t kEntryLimit = 1 << 27;
  constexpr std::uint32_t kOffsetLimit = 1u << 30;
  const std::vector<Forged> cases = {
      {"no entries", [](ArchiveLayout& l) { l.header.entry_count = 0; }, "entry count 0"},
      // Just below a limit the count is taken, and the archive is too short for it.
      {"entries 2^27 - 1", [](ArchiveLayout& l) { l.header.entry_count = kEntryLimit - 1; },
       "its index needs 37580"},
      {"entries 2^27", [](ArchiveLayout& l) { l.header.entry_count = kEntryLimit; },
       "entry count 134217728 is outside 1 to 134217727"},
      {"entries most negative",
       [](ArchiveLayout& l) { l.header.entry_count = std::numeric_limits<std::int32_t>::min(); },
       "entry count -2147483648"},
      {"offsets 2^30 - 1", [](ArchiveLayout& l) { l.header.offset_count = kOffsetLimit - 1; },
       "its index needs 4294967"},
      {"offsets 2^30", [](ArchiveLayout& l) { l.header.offset_count = kOffsetLimit; },
       "offset count 1073741824 is 1073741824 or more"},
      {"name pool of 4 GiB", [](ArchiveLayout& l) { l.header.name_pool_size = 0xFFFFFFFFu; },
       "its index needs"},
  };
  for (const auto& [what, edit, cause] : cases) expect_refused(extract_forged(edit), cause, what);

  // Without files the name pool ends the archive, and may reach its last byte.
  const std::vector<SourceNode> folders = {
      source_folder("", {source_folder("a"), source_folder("b")})};
  EXPECT_EQ(extract_forged([](ArchiveLayout&) {}, folders).run.status, 0);
  expect_refused(extract_forged([](ArchiveLayout& l) { ++l.header.name_pool_size; }, folders),
                 "but the archive has", "name pool one byte past the end");
}

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
  const std::uint64_t refused = peak_memory_kib([&] {
    EXPECT_NE(ArchiveIndex::open(utf8(dir / "claim.brq")).error().cause().find("index needs"),
              std::string::npos);
  });
  // One file, with 4 GiB of offset words claimed, or a 4 GiB name pool:
  // only the one word and the one name are read.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> claims = {{(1u << 30) - 1, 5},
                                                                       {1, 0xFFFFFFF0u}};
  for (const auto& [offsets, pool] : claims) {
    const fs::path archive = sparse_archive(dir / "sparse.brq", offsets, pool);
    const fs::path out = dir / ("out" + std::to_string(offsets));
    const std::uint64_t loaded = peak_memory_kib([&] {
      const Extracted run = extract_with(archive, out);
      EXPECT_TRUE(run.summary.complete()) << run.lines;
    });
    EXPECT_EQ(read_file(out / "solo"), "12345") << offsets;
    if (loaded > 0) {
      EXPECT_LT(loaded, refused + 64 * 1024) << offsets;
    }
  }
}

TEST(HostileArchive, DamagedEntriesAreSkippedAndTheRestExtracted) {
  const std::vector<Forged> cases = {
      {"name beyond pool", [](ArchiveLayout& l) { l.entries[4].name_offset = 99; },
       "entry 4 in \\d\\: its name offset 99"},
      {"unterminated name",
       [](ArchiveLayout& l) {
         l.name_pool.pop_back();
         --l.header.name_pool_size;
       },
       "entry 7 in s\\: its name at offset 13 runs past"},
      {"ordinal beyond offsets",
       [](ArchiveLayout& l) {
         l.offsets.pop_back();
         --l.header.offset_count;
       },
       "entry 7, s\\t: it is file number 3"},
      {"one byte past the end", [](ArchiveLayout& l) { ++l.sizes[7].file_size; },
       "entry 7, s\\t: its 2 bytes at position"},
      {"largest size",
       [](ArchiveLayout& l) { l.sizes[7].file_size = std::numeric_limits<std::int32_t>::max(); },
       "entry 7, s\\t: its 2147483647 bytes"},
      {"most negative size",
       [](ArchiveLayout& l) { l.sizes[7].file_size = std::numeric_limits<std::int32_t>::min(); },
       "entry 7, s\\t: its size -2147483648 is negative"},
      {"last offset word", [](ArchiveLayout& l) { l.offsets[3] = 0xFFFFFFFFu; },
       "entry 7, s\\t: its 1 bytes at position 68719476720"},
  };
  for (const auto& [what, edit, cause] : cases) {
    const Extraction e = extract_forged(edit);
    expect_skipped(e, cause, what);
    EXPECT_EQ(e.out.count("d/e/f") + e.out.count("h"), 2u) << what;
  }
  // A folder whose name is unusable takes its whole subtree with it.
  const Extraction e = extract_forged([](ArchiveLayout& l) { l.entries[1].name_offset = 1u << 31; });
  expect_skipped(e, "entry 1 in \\", "folder with a bad name");
  EXPECT_EQ(e.out, (std::map<std::string, std::string>{
                       {"h", "HHHHHHHHHHHHHHHHHHHH"}, {"s", "<dir>"}, {"s/t", "T"}}));
}

TEST(HostileArchive, NameLengthLimit) {
  // Within the limit the name is tried, and the file system refuses it.
  Extraction e = extract_forged(
      [](ArchiveLayout&) {},
      {source_folder("", {source_file(std::string(1024, 'n'), "x"), source_file("ok", "ok")})});
  EXPECT_EQ(e.run.status, 2);
  EXPECT_EQ(count_lines(e.run.out, "ERROR: Unable to create file: "), 1) << e.run.out;
  EXPECT_EQ(count_lines(e.run.out, "ERROR: "), 1) << e.run.out;
  // Past it, the entry is skipped before its name is used.
  const std::string too_long(1025, 'n');
  e = extract_forged([](ArchiveLayout&) {},
                     {source_folder("", {source_folder(too_long, {source_file("x", "x")}),
                                         source_file("ok", "ok")})});
  expect_skipped(e, "entry 1 in \\: its name at offset 1 is longer than 1024 bytes", "too long");
  EXPECT_EQ(e.run.out.find(too_long), std::string::npos);
  EXPECT_EQ(e.out, (std::map<std::string, std::string>{{"ok", "ok"}}));
}

TEST(HostileArchive, ArchiveCutAtEveryByte) {
  const std::vector<SourceNode> top_level = tree();
  const ArchiveLayout layout = lay_out(top_level);
  const std::string whole = archive_bytes(layout);
  const std::size_t index_end = index_size(8, 4, layout.name_pool.size());
  ASSERT_EQ(whole.size(), layout.total_size);
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const Extraction e = extract(whole.substr(0, cut));
    const std::string what = "cut at " + std::to_string(cut) + " of " + std::to_string(whole.size());
    if (cut < index_end) {
      expect_refused(
          e, cut < kHeaderSize ? "too short" : "but the archive has " + std::to_string(cut), what);
      continue;
    }
    // The index is whole: the files whose data are cut are skipped, the rest written.
    EXPECT_EQ(e.run.status, 2) << what;
    EXPECT_GE(count_lines(e.run.out, "ERROR: Skipping entry "), 1) << what;
    EXPECT_EQ(count_lines(e.run.out, "ERROR: "), count_lines(e.run.out, "ERROR: Skipping entry "))
        << what;
    EXPECT_NE(e.run.out.find("end beyond the archive's end (" + std::to_string(cut) + " bytes)"),
              std::string::npos)
        << what;
    EXPECT_EQ(e.strays, std::vector<std::string>{}) << what;
  }
  // Whole, "s\t" ends on the archive's last byte.
  EXPECT_EQ(extract(whole).run.status, 0);
}

TEST(HostileArchive, SoundCornersOfTheFormat) {
  // One entry: a root that is a file.
  Extraction e = extract_forged([](ArchiveLayout&) {}, {source_file("solo.bin", "12345")});
  EXPECT_EQ(e.run.out, kBanner + file_line("solo.bin", 5));
  EXPECT_EQ(e.out, (std::map<std::string, std::string>{{"solo.bin", "12345"}}));
  // A next sibling of 0 ends the chain like -1; an empty file reads nothing
  // wherever its data would lie.
  e = extract_forged([](ArchiveLayout& l) {
    l.entries[2].next_sibling = 0;
    l.sizes[7].file_size = 0;
    l.offsets[3] = 0xFFFFFFFFu;
  });
  EXPECT_EQ(e.run.out, kBanner + file_line("\\d\\e\\f", 4) + file_line("\\h", 20) +
                           file_line("s\\t", 0));
  EXPECT_EQ(e.run.status, 0);
  // More offset words than files.
  e = extract_forged([](ArchiveLayout& l) {
    // Two more words take 8 bytes: move the data 16 on.
    for (PlacedData& data : l.data) data.position += 16;
    for (std::uint32_t& word : l.offsets) word += 1;
    l.offsets.insert(l.offsets.end(), {7, 9});
    l.header.offset_count += 2;
  });
  EXPECT_EQ(e.run.status, 0) << e.run.out;
  EXPECT_EQ(e.out.at("d/e/f"), "FFFF");
  // Loops among entries no chain reaches don't matter; a folder whose first
  // child is 0 is empty.
  e = extract_forged([](ArchiveLayout& l) {
    l.entries[6].first_child = 0;
    l.entries[7].next_sibling = 7;
    l.entries[7].first_child = 7;
  });
  EXPECT_EQ(e.run.status, 0) << e.run.out;
  EXPECT_EQ(e.out.at("s"), "<dir>");
  EXPECT_EQ(e.out.count("s/t"), 0u);
}

}  // namespace
}  // namespace kelvarin::testing
