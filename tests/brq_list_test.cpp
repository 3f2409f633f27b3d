// brq list: every entry in the order Kelvarin_Extract walks them, as text
// and as JSON that a JSON parser reads back exactly, and damaged entries
// named on standard error.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Top level: a root with nested folders, then two siblings of the root.
std::vector<SourceNode> walk_tree() {
  return {source_folder("", {source_folder("maps", {source_file("a.dat", "A"),
                                                    source_folder("deep", {source_file("z", "ZZ")}),
                                                    source_file("b.dat", "BBB")}),
                             source_file("top.txt", "T"), source_folder("empty")}),
          source_file("first.bin", "1"), source_folder("second", {source_file("inner", "22")})};
}

// A line of the text listing, from the entry's index in `layout`.
std::string listing_line(const ArchiveLayout& layout, std::size_t index, const std::string& path) {
  std::uint32_t ordinal = 0;
  for (std::size_t i = 0; i < index; ++i) ordinal += layout.entries[i].first_child == kNoEntry;
  const bool is_file = layout.entries[index].first_child == kNoEntry;
  auto right = [](const std::string& text) { return std::string(12 - text.size(), ' ') + text; };
  return std::string(is_file ? "file  " : "folder") + " " +
         right(std::to_string(layout.sizes[index].file_size)) + " " +
         right(is_file ? std::to_string(layout.offsets[ordinal] * 16) : "-") + "  " + path + "\n";
}

TEST(BrqList, TextFollowsTheWalkOrderWhateverTheLayout) {
  // Breadth-first entries with data in reverse: the listing still follows
  // the chains, depth first, as the extraction does.
  TempDir dir;
  const WriterOptions options{EntryOrder::breadth_first, DataOrder::reverse_entry_order};
  const std::vector<SourceNode> tree = walk_tree();
  const ArchiveLayout layout = lay_out(tree, options);
  const fs::path archive = write_layout(dir / "a.brq", layout);
  RunResult run = run_brq({"list", archive.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Entry indexes, breadth first: root 0, first.bin 1, second 2, maps 3,
  // top.txt 4, empty 5, inner 6, a.dat 7, deep 8, b.dat 9, z 10.
  const std::vector<std::pair<std::size_t, std::string>> walk = {
      {0, "/"}, {3, "maps"}, {7, "maps/a.dat"}, {8, "maps/deep"}, {10, "maps/deep/z"},
      {9, "maps/b.dat"}, {4, "top.txt"}, {5, "empty"}, {1, "first.bin"}, {2, "second"},
      {6, "second/inner"}};
  std::string expected;
  for (const auto& [index, path] : walk) expected += listing_line(layout, index, path);
  EXPECT_EQ(run.out, expected);
}

TEST(BrqList, JsonParsesAndGivesEveryNameBack) {
  if (kOnWindows) GTEST_SKIP() << "reads the document back with python3 through a POSIX shell";
  TempDir dir;
  const std::vector<SourceNode> tree = {source_folder(
      "data", {source_file("quote\"back\\slash", "q"), source_file("line\nend\ttab\x01", "c"),
               source_file("\xC3\xA9t\xC3\xA9", "u"), source_folder("bad\xFF\xC3", {source_file("f", "")})})};
  const fs::path archive = write_archive(dir / "a.brq", tree);
  RunResult run = run_brq({"list", "--json", archive.string()});
  ASSERT_EQ(run.status, 0) << run.err;

  // Python reads the document and prints each entry's exact path bytes
  // (from path_hex where the path is not UTF-8) with its other fields.
  const std::string script =
      "import json, sys\n"
      "doc = json.loads(sys.stdin.buffer.read())\n"
      "for e in doc['entries']:\n"
      "    exact = bytes.fromhex(e['path_hex']) if 'path_hex' in e else e['path'].encode()\n"
      "    print(exact.hex(), e['kind'], e['size'], e['offset'], e['index'])\n";
  write_file(dir / "check.py", script);
  RunResult parsed = run_shell(shell_quoted(BRQ_EXE) + " list --json " + shell_quoted(archive.string()) +
                               " | python3 " + shell_quoted((dir / "check.py").string()));
  ASSERT_EQ(parsed.status, 0) << parsed.out;

  auto hex = [](const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
  };
  ArchiveLayout layout = lay_out(tree);
  auto at = [&](std::uint32_t ordinal) { return std::to_string(layout.offsets[ordinal] * 16); };
  // Entries in the order given: data, quote.., line.., été, bad.., bad../f.
  const std::string expected =
      hex("data") + " folder 0 None 0\n" +
      hex("data/quote\"back\\slash") + " file 1 " + at(0) + " 1\n" +
      hex("data/line\nend\ttab\x01") + " file 1 " + at(1) + " 2\n" +
      hex("data/\xC3\xA9t\xC3\xA9") + " file 1 " + at(2) + " 3\n" +
      hex("data/bad\xFF\xC3") + " folder 0 None 4\n" +
      hex("data/bad\xFF\xC3/f") + " file 0 " + at(3) + " 5\n";
  EXPECT_EQ(parsed.out, expected);
  // Stray bytes show as U+FFFD in "path"; control characters are escaped.
  EXPECT_NE(run.out.find("\"path\": \"data/bad\xEF\xBF\xBD\xEF\xBF\xBD\", \"path_hex\": \""),
            std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"data/line\\nend\\ttab\\u0001\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"data/quote\\\"back\\\\slash\""), std::string::npos) << run.out;
}

TEST(BrqList, DamagedEntriesAreNamedOnStandardErrorAndUnusableArchivesListNothing) {
  TempDir dir;
  const std::vector<SourceNode> tree = {
      source_folder("", {source_folder("d", {source_file("a", "AAA")}), source_file("c", "C")})};
  ArchiveLayout layout = lay_out(tree);
  layout.entries[1].name_offset = 1u << 20;  // d: no name, so neither it nor a is listed
  layout.sizes[3].file_size = -5;            // c: listed with its stored size
  write_layout(dir / "damaged.brq", layout);
  RunResult run = run_brq({"list", (dir / "damaged.brq").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.out, ""), 2) << run.out;
  EXPECT_NE(run.out.find("file             -5          176  c\n"), std::string::npos) << run.out;
  EXPECT_EQ(count_lines(run.err, "ERROR: Damaged entry "), 2) << run.err;
  EXPECT_NE(run.err.find("entry 1 in /: its name offset"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("entry 3, c: its size -5 is negative"), std::string::npos) << run.err;

  layout.entries[3].next_sibling = 1;  // a cycle: the index is unusable
  write_layout(dir / "cycle.brq", layout);
  for (const fs::path& archive : {dir / "cycle.brq", dir / "missing.brq"}) {
    RunResult unusable = run_brq({"list", "--json", archive.string()});
    EXPECT_EQ(unusable.status, 1);
    EXPECT_EQ(unusable.out, "");
    EXPECT_EQ(count_lines(unusable.err, "ERROR: "), 1) << unusable.err;
  }
}

}  // namespace
}  // namespace kelvarin::testing
