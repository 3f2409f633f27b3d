// Damaged and forged indexes: links that loop or share entries, every count
// at and just past its limit, and an archive cut at every byte. Each gets
// its documented status and "ERROR: " line, and nothing lands outside the
// destination.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

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
  bool destination_exists = false;
};

Extraction extract(const std::string& bytes) {
  TempDir sandbox;
  write_file(sandbox / "a.brq", bytes);
  Extraction result;
  result.run = run_in_process({"e", (sandbox / "a.brq").string(), (sandbox / "out").string()});
  result.strays = strays(sandbox.path(), "out", {"a.brq"});
  result.destination_exists = fs::exists(sandbox / "out");
  return result;
}

Extraction extract_forged(const std::function<void(ArchiveLayout&)>& edit,
                          const std::vector<SourceNode>& top_level = tree()) {
  ArchiveLayout layout = lay_out(top_level);
  edit(layout);
  return extract(archive_bytes(layout));
}

// Status 1: one "ERROR: " line after the banner, naming the cause, and
// nothing created.
void expect_refused(const Extraction& e, const std::string& cause, const std::string& what) {
  EXPECT_EQ(e.run.status, 1) << what;
  ASSERT_EQ(e.run.out.rfind(kBanner + "ERROR: ", 0), 0u) << what << "\n" << e.run.out;
  EXPECT_EQ(count_lines(e.run.out.substr(kBanner.size()), ""), 1) << what << "\n" << e.run.out;
  EXPECT_NE(e.run.out.find(cause), std::string::npos) << what << "\n" << e.run.out;
  EXPECT_FALSE(e.destination_exists) << what;
  EXPECT_EQ(e.strays, std::vector<std::string>{}) << what;
}

TEST(HostileArchive, LoopsAndSharedEntriesAreRefusedWhole) {
  const std::vector<Forged> cases = {
      {"folder holding its own parent", [](ArchiveLayout& l) { l.entries[2].first_child = 1; },
       "entry 1 is reached twice"},
      {"sibling chain back into itself", [](ArchiveLayout& l) { l.entries[5].next_sibling = 1; },
       "entry 1 is reached twice"},
      {"chain leading into another folder", [](ArchiveLayout& l) { l.entries[5].next_sibling = 3; },
       "entry 3 is reached twice"},
      {"two folders share a child", [](ArchiveLayout& l) { l.entries[6].first_child = 3; },
       "entry 3 is reached twice"},
      {"file made a folder over a shared entry",
       [](ArchiveLayout& l) { l.entries[5].first_child = 7; }, "entry 7 is reached twice"},
      {"root's sibling chain back into the root's tree",
       [](ArchiveLayout& l) { l.entries[6].next_sibling = 1; }, "entry 1 is reached twice"},
      {"root's sibling holding itself", [](ArchiveLayout& l) { l.entries[7].next_sibling = 6; },
       "entry 6 is reached twice"},
      {"deep file made a folder holding an ancestor",
       [](ArchiveLayout& l) { l.entries[3].first_child = 2; }, "entry 2 is reached twice"},
  };
  for (const auto& [what, edit, cause] : cases) expect_refused(extract_forged(edit), cause, what);
}

TEST(HostileArchive, LoopsAmongUnreachedEntriesDoNotMatter) {
  const Extraction e = extract_forged([](ArchiveLayout& l) {
    l.entries[6].first_child = 0;  // "s" is empty now; "t" is reached by nothing
    l.entries[7].next_sibling = 7;
    l.entries[7].first_child = 7;
  });
  EXPECT_EQ(e.run.status, 0) << e.run.out;
  EXPECT_EQ(count_lines(e.run.out, "s\\t"), 0) << e.run.out;
  EXPECT_EQ(e.strays, std::vector<std::string>{});
}

TEST(HostileArchive, CountsAtAndPastTheirLimits) {
  constexpr std::int32_t kEntryLimit = 1 << 27;
  constexpr std::uint32_t kOffsetLimit = 1u << 30;
  const std::vector<Forged> cases = {
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
      {"offsets all ones", [](ArchiveLayout& l) { l.header.offset_count = 0xFFFFFFFFu; },
       "offset count 4294967295"},
      {"name pool one byte past the end",
       [](ArchiveLayout& l) {
         l.header.name_pool_size =
             static_cast<std::uint32_t>(l.total_size - index_size(8, 4, 0) + 1);
       },
       "but the archive has"},
      {"name pool of 4 GiB", [](ArchiveLayout& l) { l.header.name_pool_size = 0xFFFFFFFFu; },
       "its index needs"},
  };
  for (const auto& [what, edit, cause] : cases) expect_refused(extract_forged(edit), cause, what);

  // Without files the name pool ends the archive, and may reach its last byte.
  const std::vector<SourceNode> folders = {
      source_folder("", {source_folder("a"), source_folder("b")})};
  const Extraction exact = extract_forged([](ArchiveLayout&) {}, folders);
  EXPECT_EQ(exact.run.status, 0) << exact.run.out;
  expect_refused(extract_forged([](ArchiveLayout& l) { ++l.header.name_pool_size; }, folders),
                 "but the archive has", "pool past the end of an index-only archive");
}

TEST(HostileArchive, NameLengthLimit) {
  const std::string longest(1024, 'n');
  const std::string too_long(1025, 'n');
  // Within the limit the name is tried, and the file system refuses it.
  Extraction e =
      extract_forged([](ArchiveLayout&) {},
                     {source_folder("", {source_file(longest, "x"), source_file("ok", "ok")})});
  EXPECT_EQ(e.run.status, 2);
  EXPECT_EQ(count_lines(e.run.out, "ERROR: Unable to create file: "), 1) << e.run.out;
  EXPECT_EQ(count_lines(e.run.out, "ERROR: "), 1) << e.run.out;
  // Past it, the entry is skipped before its name is used.
  for (const bool is_folder : {false, true}) {
    SourceNode node =
        is_folder ? source_folder(too_long, {source_file("x", "x")}) : source_file(too_long, "x");
    e = extract_forged([](ArchiveLayout&) {}, {source_folder("", {node, source_file("ok", "ok")})});
    EXPECT_EQ(e.run.status, 2);
    EXPECT_EQ(count_lines(e.run.out, "ERROR: "), 1) << e.run.out;
    EXPECT_EQ(count_lines(
                  e.run.out,
                  "ERROR: Skipping entry 1 in \\: its name at offset 1 is longer than 1024 bytes"),
              1)
        << e.run.out;
    EXPECT_EQ(e.run.out.find(too_long), std::string::npos);
    EXPECT_EQ(e.strays, std::vector<std::string>{});
  }
}

TEST(HostileArchive, DataEndingAtAndPastTheArchiveEnd) {
  // "s\t" is the last file in the data: it ends on the archive's last byte.
  const Extraction exact = extract_forged([](ArchiveLayout&) {});
  EXPECT_EQ(exact.run.status, 0) << exact.run.out;
  const std::vector<Forged> cases = {
      {"one byte past", [](ArchiveLayout& l) { ++l.sizes[7].file_size; },
       "its 2 bytes at position"},
      {"largest size",
       [](ArchiveLayout& l) { l.sizes[7].file_size = std::numeric_limits<std::int32_t>::max(); },
       "its 2147483647 bytes"},
      {"most negative size",
       [](ArchiveLayout& l) { l.sizes[7].file_size = std::numeric_limits<std::int32_t>::min(); },
       "its size -2147483648 is negative"},
      {"last offset word", [](ArchiveLayout& l) { l.offsets[3] = 0xFFFFFFFFu; },
       "its 1 bytes at position 68719476720"},
  };
  for (const auto& [what, edit, cause] : cases) {
    const Extraction e = extract_forged(edit);
    EXPECT_EQ(e.run.status, 2) << what;
    EXPECT_EQ(count_lines(e.run.out, "ERROR: "), 1) << what << "\n" << e.run.out;
    EXPECT_EQ(count_lines(e.run.out, "ERROR: Skipping entry 7, s\\t: " + cause), 1) << what << "\n"
                                                                                    << e.run.out;
    EXPECT_EQ(e.strays, std::vector<std::string>{}) << what;
  }
  // An empty file reads nothing, wherever its data would lie.
  const Extraction empty = extract_forged([](ArchiveLayout& l) {
    l.sizes[7].file_size = 0;
    l.offsets[3] = 0xFFFFFFFFu;
  });
  EXPECT_EQ(empty.run.status, 0) << empty.run.out;
}

TEST(HostileArchive, ArchiveCutAtEveryByte) {
  const std::vector<SourceNode> top_level = tree();
  const ArchiveLayout layout = lay_out(top_level);
  const std::string whole = archive_bytes(layout);
  const std::size_t index_end = index_size(8, 4, layout.name_pool.size());
  ASSERT_EQ(whole.size(), layout.total_size);
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const Extraction e = extract(whole.substr(0, cut));
    const std::string what =
        "cut at " + std::to_string(cut) + " of " + std::to_string(whole.size());
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
  EXPECT_EQ(extract(whole).run.status, 0);
}

}  // namespace
}  // namespace kelvarin::testing
