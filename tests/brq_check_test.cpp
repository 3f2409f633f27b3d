// brq check: a sound archive passes with its summary; truncation, damaged
// entries and names Kelvarin_Extract refuses are each reported and fail
// the check; an unusable index fails it as a whole. Nothing is written.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Entries, depth-first: 0 root "", 1 "d", 2 "d/a", 3 "d/b", 4 "c". Kept for
// the whole run: layouts point into it.
const std::vector<SourceNode>& sample_tree() {
  static const std::vector<SourceNode> tree = {
      source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}),
                         source_file("c", "C")})};
  return tree;
}

RunResult check_bytes(const TempDir& dir, const std::string& bytes) {
  write_file(dir / "a.brq", bytes);
  return run_brq({"check", (dir / "a.brq").string()});
}

TEST(BrqCheck, SoundArchivePassesWithItsSummary) {
  TempDir dir;
  RunResult run = check_bytes(dir, archive_bytes(lay_out(sample_tree())));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out,
            "entries      5\n"
            "folders      2\n"
            "files        3\n"
            "total bytes  6\n"
            "sound\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(BrqCheck, TruncatedArchivesFail) {
  const std::string bytes = archive_bytes(lay_out(sample_tree()));
  TempDir dir;
  // Cut inside the last file's data: that file is named, the rest is sound.
  RunResult data_cut = check_bytes(dir, bytes.substr(0, bytes.size() - 1));
  EXPECT_EQ(data_cut.status, 2) << data_cut.out;
  EXPECT_NE(data_cut.out.find("problem: entry 4, c: its 1 bytes at position"), std::string::npos)
      << data_cut.out;
  EXPECT_NE(data_cut.out.find("\n1 problem\n"), std::string::npos) << data_cut.out;
  // Cut inside the index: nothing can be trusted.
  for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{100}}) {
    RunResult index_cut = check_bytes(dir, bytes.substr(0, size));
    EXPECT_EQ(index_cut.status, 1) << size;
    EXPECT_EQ(index_cut.out.rfind("problem: ", 0), 0u) << index_cut.out;
    EXPECT_NE(index_cut.out.find("\nunusable\n"), std::string::npos) << index_cut.out;
  }
}

TEST(BrqCheck, EveryDamagedEntryAndRefusedNameIsReported) {
  struct Damage {
    const char* what;
    std::function<void(ArchiveLayout&)> edit;
    std::string problem;
  };
  const std::vector<Damage> cases = {
      {"negative size", [](ArchiveLayout& l) { l.sizes[2].file_size = -1; },
       "entry 2, d/a: its size -1 is negative"},
      {"data past the end", [](ArchiveLayout& l) { l.offsets[1] = 1u << 20; },
       "entry 3, d/b: its 2 bytes at position 16777216 end beyond"},
      {"too few offsets",
       [](ArchiveLayout& l) {
         l.offsets.pop_back();
         --l.header.offset_count;
       },
       "entry 4, c: it is file number 2 but the offset table holds only 2 positions"},
      {"data inside the index", [](ArchiveLayout& l) { l.offsets[0] = 1; },
       "entry 2, d/a: its data at position 16 begin inside the index"},
      {"name outside the pool", [](ArchiveLayout& l) { l.entries[3].name_offset = 999; },
       "entry 3 in d: its name offset 999 is outside"},
      {"folder named .", [](ArchiveLayout& l) { l.name_pool.replace(l.entries[1].name_offset, 1, "."); },
       "entry 1, .: the name would leave its folder"},
      {"separator in a name", [](ArchiveLayout& l) { l.name_pool[l.entries[4].name_offset] = '\\'; },
       "entry 4, \\: the name holds a path separator"},
      {"empty file name", [](ArchiveLayout& l) { l.entries[4].name_offset = 0; },
       "entry 4, /: a file needs a name"},
  };
  for (const Damage& damage : cases) {
    TempDir dir;
    ArchiveLayout layout = lay_out(sample_tree());
    damage.edit(layout);
    RunResult run = check_bytes(dir, archive_bytes(layout));
    EXPECT_EQ(run.status, 2) << damage.what << "\n" << run.out;
    EXPECT_NE(run.out.find("problem: " + damage.problem), std::string::npos)
        << damage.what << "\n" << run.out;
    EXPECT_EQ(count_lines(run.out, "problem: "), 1) << damage.what << "\n" << run.out;
    EXPECT_NE(run.out.find("\n1 problem\n"), std::string::npos) << run.out;
  }
}

TEST(BrqCheck, UnusableIndexUnreachableEntriesAndMissingArchive) {
  TempDir dir;
  ArchiveLayout layout = lay_out(sample_tree());
  layout.entries[3].next_sibling = 2;  // a cycle
  RunResult cycle = check_bytes(dir, archive_bytes(layout));
  EXPECT_EQ(cycle.status, 1);
  EXPECT_NE(cycle.out.find("entry 2 is reached twice"), std::string::npos) << cycle.out;

  // Cutting d's chain after a leaves b linked from nowhere: never extracted,
  // which is noted, but the archive is sound.
  layout = lay_out(sample_tree());
  layout.entries[2].next_sibling = kNoEntry;
  RunResult orphan = check_bytes(dir, archive_bytes(layout));
  EXPECT_EQ(orphan.status, 0) << orphan.out;
  EXPECT_NE(orphan.out.find("entries      4\n"), std::string::npos) << orphan.out;
  EXPECT_NE(orphan.out.find("unreachable  1 "), std::string::npos) << orphan.out;

  RunResult missing = run_brq({"check", (dir / "missing.brq").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err.rfind("ERROR: Unable to open file: ", 0), 0u) << missing.err;
}

}  // namespace
}  // namespace kelvarin::testing
