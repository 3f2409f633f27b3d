// The index checks: archives refused as a whole before anything is
// created, single entries refused while the rest are extracted, and the
// format's corner cases that are sound.
#include <gtest/gtest.h>

#include <functional>

#include "archive/index_loader.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Entries, depth-first: 0 root "", 1 "d", 2 "d/a", 3 "d/b", 4 "c".
// File ordinals: a 0, b 1, c 2.
std::vector<SourceNode> sample_tree() {
  return {source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}),
                             source_file("c", "C")})};
}

struct Forged {
  const char* what;
  std::function<void(ArchiveLayout&)> edit;
  std::string expected_in_message;
};

RunResult extract_forged(const TempDir& dir, const std::vector<SourceNode>& tree,
                         const std::function<void(ArchiveLayout&)>& edit,
                         std::size_t truncate_to = std::string::npos) {
  ArchiveLayout layout = lay_out(tree);
  edit(layout);
  std::string bytes = archive_bytes(layout);
  if (truncate_to != std::string::npos) bytes.resize(truncate_to);
  write_file(dir / "forged.brq", bytes);
  return run_program({"e", utf8(dir / "forged.brq"), utf8(dir / "out")});
}

TEST(IndexValidation, UnusableArchivesAreRefusedWholeBeforeAnythingIsCreated) {
  const auto tree = sample_tree();
  const std::vector<Forged> cases = {
      {"no entries", [](ArchiveLayout& l) { l.header.entry_count = 0; }, "entry count 0"},
      {"negative entries", [](ArchiveLayout& l) { l.header.entry_count = -1; }, "entry count -1"},
      {"too many entries", [](ArchiveLayout& l) { l.header.entry_count = 1 << 27; }, "entry count"},
      {"too many offsets", [](ArchiveLayout& l) { l.header.offset_count = 1u << 30; }, "offset count"},
      {"index past the end", [](ArchiveLayout& l) { l.header.name_pool_size = 1u << 20; }, "index needs"},
      {"sibling beyond table", [](ArchiveLayout& l) { l.entries[2].next_sibling = 5; }, "entry 2 names entry 5"},
      {"child below -1", [](ArchiveLayout& l) { l.entries[1].first_child = -2; }, "entry 1 names entry -2"},
      {"cycle", [](ArchiveLayout& l) { l.entries[3].next_sibling = 2; }, "entry 2 is reached twice"},
      {"shared entry", [](ArchiveLayout& l) { l.entries[4].next_sibling = 2; }, "entry 2 is reached twice"},
      {"self link", [](ArchiveLayout& l) { l.entries[1].first_child = 1; }, "entry 1 is reached twice"},
  };
  for (const Forged& forged : cases) {
    TempDir dir;
    RunResult run = extract_forged(dir, tree, forged.edit);
    EXPECT_EQ(run.status, 1) << forged.what;
    EXPECT_EQ(run.out.rfind(kBanner + "ERROR: ", 0), 0u) << forged.what << "\n" << run.out;
    EXPECT_EQ(count_lines(run.out.substr(kBanner.size()), ""), 1) << forged.what << "\n" << run.out;
    EXPECT_NE(run.out.find(forged.expected_in_message), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir / "out")) << forged.what;
  }
}

TEST(IndexValidation, ArchiveCutInsideItsIndexIsRefused) {
  const auto tree = sample_tree();
  const std::size_t index_end = index_size(5, 3, lay_out(tree).name_pool.size());
  for (std::size_t cut : {std::size_t{24}, std::size_t{24 + 16 * 5}, index_end - 1}) {
    TempDir dir;
    RunResult run = extract_forged(dir, tree, [](ArchiveLayout&) {}, cut);
    EXPECT_EQ(run.status, 1) << cut;
    EXPECT_NE(run.out.find("ERROR: "), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

TEST(IndexValidation, HugeClaimInTinyFileFailsWithoutAllocating) {
  TempDir dir;
  std::string bytes(100, '\0');
  store_u32(reinterpret_cast<std::uint8_t*>(bytes.data()) + 8, (1u << 27) - 1);
  write_file(dir / "claim.brq", bytes);

  ExtractState state;
  state.archive_path = utf8(dir / "claim.brq");
  ASSERT_TRUE(platform::open_archive(platform::native_path(state.archive_path), state.archive).ok());
  std::string error;
  EXPECT_FALSE(load_index(state, error));
  EXPECT_NE(error.find("index needs"), std::string::npos) << error;
  EXPECT_EQ(state.entry_table.capacity(), 0u);
  EXPECT_EQ(state.node_table.capacity(), 0u);
}

TEST(IndexValidation, BadEntriesAreSkippedAndTheRestExtracted) {
  const auto tree = sample_tree();
  struct Case {
    const char* what;
    std::function<void(ArchiveLayout&)> edit;
    std::string message;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {"name beyond pool", [](ArchiveLayout& l) { l.entries[2].name_offset = 99; },
       "entry 2 in \\d\\: its name offset 99", {"d/b", "c"}, {"d/a"}},
      {"unterminated name",
       [](ArchiveLayout& l) {
         l.name_pool.pop_back();
         --l.header.name_pool_size;
       },
       "entry 4 in \\: its name at offset 7 runs past", {"d/a", "d/b"}, {"c"}},
      {"ordinal beyond offsets",
       [](ArchiveLayout& l) {
         l.offsets.pop_back();
         --l.header.offset_count;
       },
       "entry 4, \\c: it is file number 2", {"d/a", "d/b"}, {"c"}},
      {"negative size", [](ArchiveLayout& l) { l.sizes[3].file_size = -5; },
       "entry 3, \\d\\b: its size -5", {"d/a", "c"}, {"d/b"}},
      {"data beyond end", [](ArchiveLayout& l) { l.offsets[1] = 1000; },
       "entry 3, \\d\\b: its 2 bytes at position 16000", {"d/a", "c"}, {"d/b"}},
      {"folder with bad name skips its subtree",
       [](ArchiveLayout& l) { l.entries[1].name_offset = 1u << 31; }, "entry 1 in \\", {"c"},
       {"d", "d/a", "d/b"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    RunResult run = extract_forged(dir, tree, c.edit);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(count_lines(run.out, "ERROR: "), 1) << c.what << "\n" << run.out;
    EXPECT_NE(run.out.find("ERROR: Skipping " + c.message), std::string::npos) << run.out;
    for (const auto& path : c.present) EXPECT_TRUE(fs::exists(dir / "out" / path)) << c.what << path;
    for (const auto& path : c.absent) EXPECT_FALSE(fs::exists(dir / "out" / path)) << c.what << path;
  }
}

TEST(IndexValidation, SoundCornersOfTheFormat) {
  {
    TempDir dir;  // one entry: a root that is a file
    RunResult run = extract_forged(dir, {source_file("solo.bin", "12345")}, [](ArchiveLayout&) {});
    EXPECT_EQ(run.out, kBanner + file_line("solo.bin", 5));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir / "out" / "solo.bin"), "12345");
  }
  {
    TempDir dir;  // a next sibling of 0 ends the chain like -1
    RunResult run = extract_forged(dir, sample_tree(),
                                   [](ArchiveLayout& l) { l.entries[2].next_sibling = 0; });
    EXPECT_EQ(run.out, kBanner + file_line("\\d\\a", 3) + file_line("\\c", 1));
    EXPECT_EQ(run.status, 0);
  }
  {
    TempDir dir;  // more offset words than files, and a folder whose first child is 0
    RunResult run = extract_forged(dir, {source_folder("", {source_folder("empty"), source_file("f", "F")})},
                                   [](ArchiveLayout& l) {
                                     // Two more words take 8 bytes: move the data 16 on.
                                     for (PlacedData& data : l.data) data.position += 16;
                                     for (std::uint32_t& word : l.offsets) word += 1;
                                     l.offsets.push_back(7);
                                     l.offsets.push_back(9);
                                     l.header.offset_count += 2;
                                   });
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(snapshot(dir / "out"),
              (std::map<std::string, std::string>{{"empty", "<dir>"}, {"f", "F"}}));
  }
}

}  // namespace
}  // namespace kelvarin::testing
