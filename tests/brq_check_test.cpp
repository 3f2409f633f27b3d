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

TEST(BrqCheck, TruncatedAndDamagedEntriesAreEachReported) {
  struct Damage {
    const char* what;
    std::function<void(ArchiveLayout&)> edit;
    std::string problem;
    bool cut_last_byte = false;
  };
  const std::vector<Damage> cases = {
      {"cut inside the last file's data", [](ArchiveLayout&) {},
       "entry 4, c: its 1 bytes at position", true},
      {"too few offsets",
       [](ArchiveLayout& l) {
         l.offsets.pop_back();
         --l.header.offset_count;
       },
       "entry 4, c: it is file number 2 but the offset table holds only 2 positions"},
      {"data inside the index", [](ArchiveLayout& l) { l.offsets[0] = 1; },
       "entry 2, d/a: its data at position 16 begin inside the index"},
      {"folder named .", [](ArchiveLayout& l) { l.name_pool.replace(l.entries[1].name_offset, 1, "."); },
       "entry 1, .: the name would leave its folder"},
      {"separator in a name", [](ArchiveLayout& l) { l.name_pool[l.entries[4].name_offset] = '\\'; },
       "entry 4, \\: the name holds a path separator"},
  };
  for (const Damage& damage : cases) {
    TempDir dir;
    ArchiveLayout layout = lay_out(sample_tree());
    damage.edit(layout);
    std::string bytes = archive_bytes(layout);
    if (damage.cut_last_byte) bytes.pop_back();
    RunResult run = check_bytes(dir, bytes);
    EXPECT_EQ(run.status, 2) << damage.what << "\n" << run.out;
    EXPECT_NE(run.out.find("problem: " + damage.problem), std::string::npos)
        << damage.what << "\n" << run.out;
    EXPECT_EQ(count_lines(run.out, "problem: "), 1) << damage.what << "\n" << run.out;
    EXPECT_NE(run.out.find("\n1 problem\n"), std::string::npos) << run.out;
  }
}

TEST(BrqCheck, UnusableIndexFailsWholeAndUnreachableEntriesAreNoted) {
  TempDir dir;
  RunResult cut = check_bytes(dir, archive_bytes(lay_out(sample_tree())).substr(0, 100));
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out.rfind("problem: ", 0), 0u) << cut.out;
  EXPECT_NE(cut.out.find("\nunusable\n"), std::string::npos) << cut.out;

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
  EXPECT_NE(orphan.out.find("unreachable  1 "), std::string::npos) << orphan.out;
}

}  // namespace
}  // namespace kelvarin::testing
