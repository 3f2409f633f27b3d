// brq, run in this process: list (text and JSON, in walk order), check,
// extract (all or the named entries), pack (back whole through
// Kelvarin_Extract, the same bytes each time, and refusing what an archive
// can't hold or what changed after the scan), the progress line, and the
// bundled sample.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <limits>

#include "brq/json_text.h"
#include "brq/progress_line.h"
#include "brq/run_brq.h"
#include "packing/folder_source.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/test_support.h"

#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace kelvarin::testing {
namespace {

// Entries depth-first: 0 root, 1 d, 2 d/a, 3 d/b, 4 c, then the root's
// siblings 5 first.bin and 6 empty.
const std::vector<SourceNode>& small_tree() {
  static const std::vector<SourceNode> tree = {
      source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}), source_file("c", "C")}),
      source_file("first.bin", "1"), source_folder("empty")};
  return tree;
}

TEST(BrqList, WalkOrderNamesThatAreNotTextAndDamagedEntries) {
  TempDir dir;
  // Breadth first, data reversed: 0 root, 1 first.bin, 2 empty, 3 d, 4 c, 5 d/a, 6 d/b.
  write_archive(dir / "walk.brq", small_tree(), {EntryOrder::breadth_first, DataOrder::reverse_entry_order});
  EXPECT_EQ(brq({"list", utf8(dir / "walk.brq")}).out,
            "folder            0            -  /\nfolder            0            -  d\n"
            "file              3          288  d/a\nfile              2          272  d/b\n"
            "file              1          304  c\nfile              1          320  first.bin\n"
            "folder            0            -  empty\n"
            "total             7            -  4 files, 3 folders\n");
  // Only what the paths choose, each folder whole, less the exclusions.
  const fs::path big = write_archive(dir / "big.brq", {source_folder("", {source_folder("d", {source_file("a", pattern(1536, 1)),
                                                                     source_file("b", "BB")}), source_file("c", "C")})});
  RunResult chosen = brq({"list", "-h", utf8(big), "D", "--ignore-case", "--exclude", "b", "x*"});
  EXPECT_EQ(std::make_tuple(chosen.status, chosen.out, chosen.err),
            std::make_tuple(2, "folder            0            -  d\nfile           1.5K          192  d/a\n"
                               "total          1.5K            -  1 file, 1 folder\n",
                            "ERROR: No entry matches x* in " + utf8(big) + "\n"));
  const std::vector<SourceNode> tree = {source_folder(
      "", {source_file("q\"\n\xC3\xA9", "q"), source_folder("bad\xFF\xE6\x97", {source_file("f", "")}),
           source_folder("d", {source_file("a", "AAA")}), source_file("c", "C")})};
  ArchiveLayout layout = lay_out(tree).value();
  layout.entries[4].name_offset = 1u << 20;  // d: no name, so neither it nor a is listed
  layout.sizes[6].file_size = -5;            // c: listed with its stored size
  write_layout(dir / "a.brq", layout);
  RunResult run = brq({"list", "--json", utf8(dir / "a.brq")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.substr(run.out.find("\n") + 1),
            "  {\"path\": \"\", \"kind\": \"folder\", \"size\": 0, \"offset\": null, \"index\": 0},\n"
            "  {\"path\": \"q\\\"\\n\xC3\xA9\", \"kind\": \"file\", \"size\": 1, \"offset\": 272, \"index\": 1},\n"
            "  {\"path\": \"bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\", \"path_hex\": \"626164ffe697\", \"kind\": \"folder\", "
            "\"size\": 0, \"offset\": null, \"index\": 2},\n"
            "  {\"path\": \"bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/f\", \"path_hex\": \"626164ffe6972f66\", \"kind\": \"file\", "
            "\"size\": 0, \"offset\": 288, \"index\": 3},\n"
            "  {\"path\": \"c\", \"kind\": \"file\", \"size\": -5, \"offset\": 304, \"index\": 6}\n"
            "]}\n");
  // A line end in a name is refused, like any control character: listed,
  // and named with why the extraction leaves it out.
  EXPECT_EQ(run.err,
            "ERROR: Skipping entry 1, q\"?\xC3\xA9: the name holds a control character\n"
            "ERROR: Damaged entry 4 in /: its name offset 1048576 is outside the 22-byte name pool; the 1 entry inside "
            "it is skipped\n"
            "ERROR: Damaged entry 6, c: its size -5 is negative\n");
  EXPECT_EQ(brq({"list", utf8(dir / "a.brq")}).out.find("file             -5          304  c\n") != std::string::npos, true);

  layout.entries[6].next_sibling = 1;  // a cycle: the index is unusable
  write_layout(dir / "cycle.brq", layout);
  for (const fs::path& archive : {dir / "cycle.brq", dir / "missing.brq"}) {
    const RunResult unusable = brq({"list", "--json", utf8(archive)});
    EXPECT_EQ(std::make_tuple(unusable.status, unusable.out, count_lines(unusable.err, "ERROR: ")), std::make_tuple(1, "", 1));
  }
}

// What each recorded archive gives is in fuzz/regressions/outcomes.txt;
// here the report around the problems.
TEST(BrqCheck, SummaryAndProblemsWriteNothing) {
  TempDir dir;
  ArchiveLayout layout = lay_out(small_tree()).value();
  write_layout(dir / "sound.brq", layout);
  RunResult run = brq({"check", utf8(dir / "sound.brq")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "entries      7\nfolders      3\nfiles        4\ntotal bytes  7\nsound\n");
  layout.name_pool.replace(layout.entries[1].name_offset, 1, ".");
  layout.entries[2].next_sibling = kNoEntry;  // d/b: linked from nowhere
  layout.sizes[5].file_size = -1;             // first.bin, on the top level
  write_layout(dir / "damaged.brq", layout);
  run = brq({"check", utf8(dir / "damaged.brq")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "problem: entry 1, .: the name would leave its folder; the 1 entry inside it is skipped\n"
                     "problem: entry 5, first.bin: its size -1 is negative\n"
                     "entries      6\nfolders      3\nfiles        3\ntotal bytes  4\n"
                     "unused bytes 45\n"  // d/b's bytes and padding; where first.bin's data were
                     "unreachable  1 (linked from nowhere; never extracted)\n2 problems\n");
  write_file(dir / "cut.brq", read_file(dir / "sound.brq").substr(0, 30));
  run = brq({"check", utf8(dir / "cut.brq")});
  EXPECT_EQ(run.out, "problem: " + utf8(dir / "cut.brq") + " is not a usable archive: its index needs 261 bytes but the "
                     "archive has 30\nunusable\n");
  EXPECT_EQ(brq({"check", utf8(dir / "none.brq")}).status, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

// An archive cut short (a broken download) leaves out every file whose
// data lie past its end: one line for them all, unless asked for each.
TEST(BrqCheck, AnArchiveCutShortIsOneLineUnlessEachIsAskedFor) {
  TempDir dir;
  std::vector<SourceNode> files;
  for (char name = 'a'; name <= 'e'; ++name) files.push_back(source_file(std::string(1, name), pattern(10, name)));
  const std::string whole = read_file(write_archive(dir / "whole.brq", {source_folder("", files)}));
  const std::string cut = utf8(dir / "cut.brq");
  write_file(dir / "cut.brq", whole.substr(0, whole.size() - 35));  // c ends past it, d and e begin past it
  const std::string together = cut + " ends at byte " + std::to_string(whole.size() - 35) +
                               ", before the data of 3 files: they are left out (--verbose lists them)\n";
  struct Row {
    std::vector<std::string> args;
    std::string one_line;  // the line for them all, where there is one
    int each;              // lines naming one file each
  };
  const std::string out = utf8(dir / "out");
  for (const Row& row : std::vector<Row>{{{"check", cut}, "problem: " + together, 0},
                                         {{"check", "-v", cut}, "", 3},
                                         {{"check", "--json", cut}, "", 3},
                                         {{"extract", cut, out}, "ERROR: " + together, 0},
                                         {{"extract", "--verbose", cut, out}, "", 3},
                                         {{"extract", "--json", cut, out}, "", 3}}) {
    const RunResult run = brq(row.args);
    const std::string what = row.args[0] + " " + row.args[1];
    const std::string all = run.out + run.err;
    EXPECT_EQ(run.status, 2) << what;
    EXPECT_EQ(all.find(" ends at byte ") != std::string::npos, !row.one_line.empty()) << what << "\n" << all;
    if (!row.one_line.empty()) EXPECT_NE(all.find(row.one_line), std::string::npos) << what << "\n" << all;
    std::size_t each = 0;
    for (std::size_t at = 0; (at = all.find("end beyond the archive's end", at)) != std::string::npos; ++at) ++each;
    EXPECT_EQ(each, static_cast<std::size_t>(row.each)) << what << "\n" << all;
    if (row.args[0] == "check" && row.args[1] != "--json") EXPECT_NE(run.out.find("\n3 problems\n"), std::string::npos);
  }
}

// The same report as one JSON document: each problem with its entry's
// index and path (its exact bytes where the path is not UTF-8; the folder
// it is in where it has no name), the summary, notes with their entries,
// and the verdict; an unusable archive is its one problem.
TEST(BrqCheck, JsonDocumentNamesEachProblemsEntry) {
  TempDir dir;
  const std::vector<SourceNode> tree = {source_folder(
      "", {source_file("bad\xFF\n", "x"),
           source_folder("d", {source_file("a", pattern(100, 1)), source_file("b", "B"), source_file("c", "C")})})};
  ArchiveLayout layout = lay_out(tree).value();
  layout.entries[5].name_offset = 1u << 20;  // d/c: no name
  layout.offsets[2] = layout.offsets[1];     // d/b's byte is d/a's first
  const fs::path archive = write_layout(dir / "a.brq", layout);
  RunResult run = brq({"check", "--json", utf8(archive)});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "{\"problems\": [\n"
            "  {\"index\": 1, \"path\": \"bad\xEF\xBF\xBD\\n\", \"path_hex\": \"626164ff0a\", "
            "\"problem\": \"the name holds a control character\"},\n"
            "  {\"index\": 5, \"in\": \"d\", \"problem\": \"its name offset 1048576 is outside the 15-byte name pool\"}\n"
            "],\n \"entries\": 6, \"folders\": 2, \"files\": 4, \"bytes\": 103, \"unreachable\": 0, \"unused\": 28,\n"
            " \"notes\": [\n  {\"note\": \"2 files overlap others' data: an extraction writes 101 bytes from an archive of " +
                std::to_string(fs::file_size(archive)) +
                "\", \"entries\": [{\"index\": 3, \"path\": \"d/a\"}, {\"index\": 4, \"path\": \"d/b\"}]}\n"
            "],\n \"verdict\": \"problems\"}\n");
  write_file(dir / "cut.brq", read_file(archive).substr(0, 30));
  run = brq({"check", "--json", utf8(dir / "cut.brq")});
  std::string problem;
  brq::append_json_string(problem, utf8(dir / "cut.brq") +
                                       " is not a usable archive: its index needs 223 bytes but the archive has 30");
  EXPECT_EQ(std::make_tuple(run.status, run.out),
            std::make_tuple(1, "{\"problems\": [\n  {\"problem\": " + problem +
                                   "}\n],\n \"notes\": [],\n \"verdict\": \"unusable\"}\n"));
}

// Files whose data overlap: no problem (a writer may share identical
// data), but a note with what an extraction would write against the
// archive's own size, as a small archive can be made to write gigabytes.
// Names that differ only in case: a note on every OS, by list too, as only
// one of each survives on Windows (where they are problems as well).
TEST(BrqCheck, OverlappingDataAndNamesDifferingInCaseAreNotes) {
  TempDir dir;
  const std::vector<SourceNode> tree = {
      source_folder("", {source_file("a", pattern(1000, 1)), source_file("b", pattern(1000, 2)),
                         source_file("c", pattern(1000, 3)), source_file("d", "d"), source_file("A", "e")})};
  ArchiveLayout layout = lay_out(tree).value();
  layout.offsets[1] = layout.offsets[0];
  layout.offsets[2] = layout.offsets[0] + 10;  // inside a's data too
  const fs::path archive = write_layout(dir / "a.brq", layout);
  const std::string twins = "note: 1 name differs only in case: on Windows only one of each survives\n";
  RunResult run = brq({"check", utf8(archive)});
  EXPECT_EQ(run.status, kOnWindows ? 2 : 0) << run.out;
  EXPECT_NE(run.out.find("\nnote: 3 files overlap others' data: an extraction writes " +
                         std::string(kOnWindows ? "3001" : "3002") + " bytes from an archive of " +
                         std::to_string(fs::file_size(archive)) + "\n" + twins +
                         (kOnWindows ? "1 problem\n" : "sound\n")),
            std::string::npos)
      << run.out;
  run = brq({"check", "--json", utf8(archive)});
  EXPECT_NE(run.out.find("{\"note\": \"" + twins.substr(6, twins.size() - 7) +
                         "\", \"entries\": [{\"index\": 5, \"path\": \"A\"}]}"),
            std::string::npos)
      << run.out;
  run = brq({"list", utf8(archive)});
  EXPECT_EQ(run.status, kOnWindows ? 2 : 0);
  EXPECT_EQ(count_lines(run.err, twins), 1) << run.err;
}

TEST(BrqExtract, WholeOrNamedEntriesWithTheFoldersOnTheWay) {
  struct Case {
    std::vector<std::string> paths;
    int status;
    std::string out, err;
    Tree tree;
  };
  const Tree whole = {{"d", "<dir>"}, {"d/a", "AAA"}, {"d/b", "BB"}, {"c", "C"}, {"first.bin", "1"}, {"empty", "<dir>"}};
  const std::vector<Case> cases = {
      {{}, 0, "d/a\nd/b\nc\nfirst.bin\n", "", whole},
      {{"d/b"}, 0, "d/b\n", "", {{"d", "<dir>"}, {"d/b", "BB"}}},
      {{"/d//"}, 0, "d/a\nd/b\n", "", {{"d", "<dir>"}, {"d/a", "AAA"}, {"d/b", "BB"}}},
      {{"empty"}, 0, "", "", {{"empty", "<dir>"}}},
      // Walk order whatever the order named in; a missing one is an error.
      {{"first.bin", "d/nothing", "c"}, 2, "c\nfirst.bin\n", "ERROR: No entry named d/nothing in ",
       {{"c", "C"}, {"first.bin", "1"}}},
      {{"d/nothing"}, 2, "", "ERROR: No entry named d/nothing in ", {}},
      // Patterns, the printed path form, a path inside one already chosen.
      {{"*/a", "c"}, 0, "d/a\nc\n", "", {{"d", "<dir>"}, {"d/a", "AAA"}, {"c", "C"}}},
      {{"\\d\\b", "d"}, 0, "d/a\nd/b\n", "", {{"d", "<dir>"}, {"d/a", "AAA"}, {"d/b", "BB"}}},
      {{"D/A", "--ignore-case"}, 0, "d/a\n", "", {{"d", "<dir>"}, {"d/a", "AAA"}}},
      {{"--exclude", "b", "--exclude", "d/a", "--exclude", "empty"}, 0, "c\nfirst.bin\n", "",
       {{"d", "<dir>"}, {"c", "C"}, {"first.bin", "1"}}},
      {{"x*", "c"}, 2, "c\n", "ERROR: No entry matches x* in ", {{"c", "C"}}},
      // A pattern without a separator goes by names at any depth; with one,
      // a leading one too, from the top. A path as tar -t prints it.
      {{"[ab]"}, 0, "d/a\nd/b\n", "", {{"d", "<dir>"}, {"d/a", "AAA"}, {"d/b", "BB"}}},
      {{"/[ab]"}, 2, "", "ERROR: No entry matches /[ab] in ", {}},
      {{"./d/b"}, 0, "d/b\n", "", {{"d", "<dir>"}, {"d/b", "BB"}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path archive = write_archive(dir / "a.brq", small_tree());
    std::vector<std::string> args = {"extract", utf8(archive), utf8(dir / "out")};
    args.insert(args.end(), c.paths.begin(), c.paths.end());
    const RunResult run = brq(args);
    const std::string what = c.paths.empty() ? "everything" : c.paths[0];
    EXPECT_EQ(run.status, c.status) << what << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << what;
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << what;
    EXPECT_EQ(snapshot(dir / "out"), c.tree) << what;
  }
  // A named root is part of every path below it; -q prints no file lines.
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("data", {source_file("a", "A"), source_file("b", "B")})});
  EXPECT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out"), "data/a"}).out, "");
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"data", "<dir>"}, {"data/a", "A"}}));
}

// Over a tree edited since the last extraction: whatever holds a file's
// name stays as it is (an edited file, a folder, a link, not followed);
// what is missing comes back; a later entry of the same name still
// replaces the one this run wrote.
TEST(BrqExtract, SkipExistingLeavesWhatIsThereUntouched) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}),
                                                                          source_file("c", "C"), source_file("c", "C2"), source_file("f", "F")})});
  ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out")}).status, 0);
  write_file(dir / "out" / "d" / "a", "edited");
  fs::remove(dir / "out" / "c");
  fs::remove(dir / "out" / "f");
  fs::create_directory(dir / "out" / "f");
  if (!kOnWindows) {
    fs::remove(dir / "out" / "d" / "b");
    write_file(dir / "secret", "SECRET");
    fs::create_symlink(dir / "secret", dir / "out" / "d" / "b");
  }
  const RunResult run = brq({"extract", "--skip-existing", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(std::make_tuple(run.status, run.out, run.err),
            std::make_tuple(0, std::string("c\nc\n2 files written, 3 already there left untouched\n"), ""));
  EXPECT_EQ(read_file(dir / "out" / "d" / "a"), "edited");
  EXPECT_EQ(read_file(dir / "out" / "c"), "C2");
  EXPECT_TRUE(fs::is_directory(dir / "out" / "f"));
  if (!kOnWindows) {
    EXPECT_TRUE(fs::is_symlink(dir / "out" / "d" / "b"));
    EXPECT_EQ(read_file(dir / "secret"), "SECRET");
  }
}

TEST(BrqExtract, RefusedEntriesGoToStandardErrorWithKelvarinExtractsStatus) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("ok", "fine"), source_file("..", "evil"),
                                                                          source_folder("a\\b", {source_file("x", "evil")})})});
  const RunResult run = brq({"extract", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(std::make_tuple(run.status, run.out, count_lines(run.err, "ERROR: Skipping entry ")), std::make_tuple(2, "ok\n", 2));
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"ok", "fine"}}));
  const RunResult unusable = brq({"extract", utf8(dir / "missing.brq"), utf8(dir / "none")});
  EXPECT_EQ(unusable.status, 1);
  EXPECT_EQ(unusable.err.rfind("ERROR: Unable to open file: " + utf8(dir / "missing.brq") + ": ", 0), 0u) << unusable.err;
  EXPECT_FALSE(fs::exists(dir / "none"));
}

// With --json the run is one document on standard output: every entry in
// walk order, written, refused or failed (with the words the line would
// have), the paths that named nothing and the counts; standard error
// keeps only what concerns the run as a whole.
TEST(BrqExtract, JsonDocumentTellsEveryEntryInWalkOrder) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", {source_file("ok", "fine"), source_file("..", "evil"),
                                                                          source_file("c", "C"), source_file("d", "D")})});
  fs::create_directories(dir / "out" / "c" / "inside");  // a folder holds c's name
  RunResult run = brq({"extract", "--json", utf8(archive), utf8(dir / "out"), "*", "nothing"});
  EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(2, "")) << run.err;
  const std::string failed = "  {\"index\": 3, \"path\": \"c\", \"kind\": \"file\", \"status\": \"failed\", \"message\": \"";
  ASSERT_NE(run.out.find(failed), std::string::npos) << run.out;
  const std::size_t end = run.out.find("\"},\n", run.out.find(failed));
  EXPECT_EQ(run.out.substr(0, run.out.find(failed)) + run.out.substr(end),
            "{\"entries\": [\n"
            "  {\"index\": 1, \"path\": \"ok\", \"kind\": \"file\", \"status\": \"written\", \"size\": 4},\n"
            "  {\"index\": 2, \"path\": \"..\", \"kind\": \"file\", \"status\": \"refused\", \"message\": "
            "\"Skipping entry 2, ..: the name would leave its folder\"},\n"
            "\"},\n"
            "  {\"index\": 4, \"path\": \"d\", \"kind\": \"file\", \"status\": \"written\", \"size\": 1}\n"
            "],\n \"missing\": [\"nothing\"],\n"
            " \"files_written\": 2, \"bytes_written\": 5, \"skipped\": 0, \"refused\": 1, \"failed\": 1, \"complete\": false}\n");
  // Quiet, only what was not written; left alone, "skipped".
  run = brq({"extract", "--json", "-q", "--skip-existing", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(2, ""));
  EXPECT_EQ(count_lines(run.out, "  {"), 1) << run.out;
  run = brq({"extract", "--json", "--skip-existing", utf8(archive), utf8(dir / "out"), "--exclude", ".."});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_lines(run.out, "  {\"index\": 1, \"path\": \"ok\", \"kind\": \"file\", \"status\": \"skipped\""), 1)
      << run.out;
  EXPECT_NE(run.out.find("\"skipped\": 3, \"refused\": 0, \"failed\": 0, \"complete\": true}\n"), std::string::npos)
      << run.out;
  // A destination that can't be used is no run to tell of.
  write_file(dir / "plain", "x");
  run = brq({"extract", "--json", utf8(archive), utf8(dir / "plain")});
  EXPECT_EQ(std::make_tuple(run.status, run.out, count_lines(run.err, "ERROR: Unable to use ")), std::make_tuple(1, "", 1));
}

// As mkdir -p: brq makes a missing destination with its missing parents
// (Kelvarin_Extract makes one level only); one whose way is barred by a
// file is refused with nothing made.
TEST(BrqExtract, MakesTheDestinationWithItsParents) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", small_tree());
  const RunResult run = brq({"extract", "-q", utf8(archive), utf8(dir / "new" / "deeper" / "out")});
  EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(0, ""));
  EXPECT_EQ(snapshot(dir / "new" / "deeper" / "out").size(), 6u);
  write_file(dir / "plain", "keep");
  const RunResult barred = brq({"extract", utf8(archive), utf8(dir / "plain" / "x" / "out")});
  EXPECT_EQ(std::make_tuple(barred.status, count_lines(barred.err, "ERROR: Unable to use ")), std::make_tuple(1, 1))
      << barred.err;
  EXPECT_EQ(read_file(dir / "plain"), "keep");
  EXPECT_EQ(kelvarin({"e", utf8(archive), utf8(dir / "other" / "out")}).status, 1);
  EXPECT_FALSE(fs::exists(dir / "other"));
}

// Standard output holds the files' bytes and nothing else, in the order
// asked for; a folder, a path naming nothing and a damaged file are errors
// on standard error, and the rest is still written.
TEST(BrqCat, FilesBytesInTheOrderAsked) {
  TempDir dir;
  const std::string big = pattern((3 << 20) + 5, 7);
  const std::vector<SourceNode> tree = {source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}),
                                                          source_file("big.bin", big), source_file("empty", ""), source_file("cut", "XY")})};
  ArchiveLayout layout = lay_out(tree).value();
  layout.sizes[6].file_size = 1 << 30;  // cut: its data run past the archive's end
  const fs::path archive = write_layout(dir / "a.brq", layout);
  RunResult run = brq({"cat", utf8(archive), "d/*", "big.bin", "empty", "\\d\\a"});
  EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(0, ""));
  EXPECT_TRUE(run.out == "AAABB" + big + "AAA");
  run = brq({"cat", utf8(archive), "d", "nothing", "[c]u*", "d/b", "--exclude", "a"});
  EXPECT_EQ(std::make_tuple(run.status, run.out), std::make_tuple(2, "BB"));
  EXPECT_EQ(run.err, "ERROR: d in " + utf8(archive) + " is a folder, not a file\n"
                     "ERROR: No entry named nothing in " + utf8(archive) + "\n"
                     "ERROR: Damaged entry 6, cut: its 1073741824 bytes at position 3146048 end beyond the archive's end (3146050 bytes)\n");
}

// A game patch: one file added, one removed, one changed in its bytes only,
// one in its size. Where data lie and the order of entries are no
// difference, unless the order is asked about.
TEST(BrqDiff, AddedRemovedAndChangedFilesByPath) {
  TempDir dir;
  const fs::path a = write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}),
                                                                      source_file("c", "C"), source_file("e", "E")})});
  const fs::path b = write_archive(dir / "b.brq", {source_folder("", {source_file("n", "N"), source_file("e", "EE"), source_file("c", "X"),
                                                                      source_folder("d", {source_file("b", "BB")})})});
  RunResult run = brq({"diff", utf8(a), utf8(b)});
  EXPECT_EQ(std::make_tuple(run.status, run.out, run.err), std::make_tuple(1, "M c\n- d/a\nM e\n+ n\n", ""));
  EXPECT_EQ(brq({"diff", "--json", utf8(b), utf8(a)}).out,
            "{\"changes\": [\n  {\"change\": \"modified\", \"path\": \"c\"},\n  {\"change\": \"added\", \"path\": \"d/a\"},\n"
            "  {\"change\": \"modified\", \"path\": \"e\"},\n  {\"change\": \"removed\", \"path\": \"n\"}\n]}\n");
  const fs::path moved = write_archive(dir / "moved.brq", {source_folder("", {source_file("e", "E"), source_file("c", "C"),
                                                                              source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")})})},
                                       {EntryOrder::breadth_first, DataOrder::reverse_entry_order});
  run = brq({"diff", utf8(a), utf8(moved)});
  EXPECT_EQ(std::make_tuple(run.status, run.out), std::make_tuple(0, ""));
  EXPECT_EQ(brq({"diff", "--order", utf8(a), utf8(moved)}).out, "O /\n");
  run = brq({"diff", utf8(a), utf8(dir / "missing.brq")});
  EXPECT_EQ(std::make_tuple(run.status, run.out, count_lines(run.err, "ERROR: ")), std::make_tuple(2, "", 1));
}

// tar -d for archives: either side may be a folder, an extraction or a
// modded tree, compared as an archive of it would be, in either order,
// with nothing written. A folder on one side only is one line with how
// many entries it holds (every entry with --all).
TEST(BrqDiff, AFolderIsComparedAsAnArchiveOfItWouldBe) {
  struct Case {
    std::string what;
    std::function<void(const fs::path&)> edit;
    int status;
    std::string changes;  // from the archive to the folder
  };
  const std::vector<Case> cases = {
      {"its own extraction", [](const fs::path&) {}, 0, ""},
      {"a file's bytes", [](const fs::path& out) { write_file(out / "d" / "a", "AXA"); }, 1, "M d/a\n"},
      {"a file's size", [](const fs::path& out) { write_file(out / "c", ""); }, 1, "M c\n"},
      {"a folder removed", [](const fs::path& out) { fs::remove_all(out / "d"); }, 1, "- d/ (2 entries)\n"},
      {"a folder added", [](const fs::path& out) {
         fs::create_directories(out / "new" / "y");
         write_file(out / "new" / "x", "x");
         write_file(out / "new" / "y" / "z", "z");
       }, 1, "+ new/ (3 entries)\n"},
      {"an empty folder added", [](const fs::path& out) { fs::create_directory(out / "e2"); }, 1, "+ e2/ (empty)\n"},
      {"a file for a folder", [](const fs::path& out) {
         fs::remove(out / "empty");
         write_file(out / "empty", "");
       }, 1, "M empty\n"},
  };
  const auto reversed = [](std::string changes) {
    for (std::size_t at = 0; at < changes.size(); at = changes.find('\n', at) + 1) {
      changes[at] = changes[at] == '-' ? '+' : changes[at] == '+' ? '-' : changes[at];
    }
    return changes;
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path archive = write_archive(dir / "a.brq", small_tree());
    ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out")}).status, 0);
    c.edit(dir / "out");
    const Tree before = snapshot(dir.path());
    RunResult run = brq({"diff", utf8(archive), utf8(dir / "out")});
    EXPECT_EQ(std::make_tuple(run.status, run.out, run.err), std::make_tuple(c.status, c.changes, "")) << c.what;
    run = brq({"diff", utf8(dir / "out"), utf8(archive)});
    EXPECT_EQ(std::make_tuple(run.status, run.out, run.err), std::make_tuple(c.status, reversed(c.changes), ""))
        << c.what;
    EXPECT_EQ(snapshot(dir.path()), before) << c.what;
  }
  // Every entry with --all; the count in JSON; two folders.
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", small_tree());
  ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out")}).status, 0);
  ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out2"), "--exclude", "d"}).status, 0);
  EXPECT_EQ(brq({"diff", "--all", utf8(dir / "out"), utf8(dir / "out2")}).out, "- d/\n- d/a\n- d/b\n");
  EXPECT_EQ(brq({"diff", "--json", utf8(dir / "out"), utf8(dir / "out2")}).out,
            "{\"changes\": [\n  {\"change\": \"removed\", \"path\": \"d\", \"entries\": 2}\n]}\n");
  EXPECT_EQ(brq({"diff", "--json", "--all", utf8(archive), utf8(dir / "out2")}).out.find("entries"), std::string::npos);
}

// What an archive can't hold (a link, never followed) can't be compared:
// it is named on standard error as trouble, in tree order, and the rest is
// compared.
TEST(BrqDiff, ALinkInAFolderIsTrouble) {
  if (kOnWindows) GTEST_SKIP() << "needs symbolic links";
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", small_tree());
  ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out")}).status, 0);
  for (const char* link : {"c", "d/a", "empty/l"}) {
    fs::remove(dir / "out" / link);
    fs::create_symlink("first.bin", dir / "out" / link);
  }
  const RunResult run = brq({"diff", utf8(archive), utf8(dir / "out")});
  const std::string told = ": is a link, which an archive can't hold\n";
  EXPECT_EQ(std::make_tuple(run.status, run.out, run.err),
            std::make_tuple(2, "- c\n- d/a\n", "ERROR: " + utf8(dir / "out") + "/c" + told + "ERROR: " +
                                                   utf8(dir / "out") + "/d/a" + told + "ERROR: " + utf8(dir / "out") +
                                                   "/empty/l" + told));
}

// Output that doesn't arrive is a failure said on standard error, never a
// success: every command's, to the last flush.
TEST(BrqOutput, FailedStandardOutputIsStatusTwoWithOneLine) {
  if (kOnWindows) GTEST_SKIP() << "needs /dev/full";
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", small_tree());
  make_tree(dir / "src", {{"f", "x"}});
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", utf8(archive)}, {"list", "--json", utf8(archive)}, {"check", utf8(archive)},
           {"check", "--json", utf8(archive)}, {"extract", utf8(archive), utf8(dir / "out")},
           {"extract", "--json", utf8(archive), utf8(dir / "out2")}, {"diff", utf8(archive), utf8(archive)},
           {"cat", utf8(archive), "d/a"}, {"pack", utf8(dir / "src"), utf8(dir / "b.brq")}, {"--help"}}) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::FILE* err = std::fopen((dir / "err").string().c_str(), "wb");
    std::vector<const char*> argv{"brq"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const int status = brq::run_brq(static_cast<int>(argv.size()), argv.data(), {full, err});
    std::fclose(full);
    std::fclose(err);
    const std::string said = read_file(dir / "err");
    // diff of an archive against itself prints nothing to fail on.
    const bool silent = args[0] == "diff";
    EXPECT_EQ(status, silent ? 0 : 2) << args[0] << said;
    EXPECT_EQ(count_lines(said, "ERROR: Unable to write to standard output: "), silent ? 0 : 1) << args[0] << said;
  }
}

// A line on a terminal only: shown once a run has lasted a second, redrawn
// in place, taken off for a message, and left on the screen at the end.
TEST(BrqProgress, LineOnlyWhenEnabledAndOnceASecondHasPassed) {
  TempDir dir;
  for (const bool enabled : {true, false}) {
    std::FILE* stream = std::fopen((dir / "err").string().c_str(), "wb");
    EXPECT_FALSE(platform::is_terminal(stream));
    brq::ProgressLine progress(stream, enabled);
    progress.file_started(10);
    progress.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    progress.file_started(2000);
    progress.clear();
    progress.file_started(0);
    progress.finish();
    std::fclose(stream);
    const std::string shown = read_file(dir / "err");
    if (!enabled) {
      EXPECT_EQ(shown, "");
      continue;
    }
    // The first line drawn and cleared; drawn again at once after a message,
    // though a quarter second has not passed; left with its line end.
    const std::size_t end = shown.find("/s") + 2;
    EXPECT_EQ(shown.substr(0, 13) + shown.substr(end, end + 2), "\r1 file, 10, \r" + std::string(end - 1, ' ') + "\r\r");
    EXPECT_NE(shown.find("\r\r2 files, 2.0K, "), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.rfind('\r'), 16) + shown.back(), "\r3 files, 2.0K, \n") << shown;
  }
}

// Asked for, the line shows wherever standard error goes, its last state
// at least, counted against the run's totals; turned off, never.
TEST(BrqProgress, AskedForItShowsTheRunsTotals) {
  TempDir dir;
  const fs::path archive = write_archive(dir / "a.brq", small_tree());
  const std::string done = "\r3 of 3 files, 6 of 6 (100%), ";
  RunResult run = brq({"extract", "--progress", "-q", utf8(archive), utf8(dir / "out"), "--exclude", "c"});
  EXPECT_EQ(std::make_tuple(run.err.substr(0, done.size()), run.err.back()), std::make_tuple(done, '\n')) << run.err;
  run = brq({"pack", "--progress", utf8(dir / "out"), utf8(dir / "b.brq")});
  EXPECT_EQ(run.err.substr(0, done.size()), done) << run.err;
  run = brq({"cat", "--progress", utf8(archive), "d/*"});
  EXPECT_EQ(run.err.substr(0, 30), "\r2 of 2 files, 5 of 5 (100%), ") << run.err;
  EXPECT_EQ(brq({"extract", "--no-progress", utf8(archive), utf8(dir / "out2")}).err, "");
}

// Empty files and one past the writer's 1 MiB read, names beyond ASCII
// and with spaces and punctuation, nested and empty folders.
TEST(BrqPack, FoldersComeBackWholeAndPackToTheSameBytes) {
  TempDir dir;
  const fs::path src = dir / "src";
  make_tree(src, {{"big", pattern(1'100'000, 1)}, {"empty.txt", ""}, {"maps/deep/er/it's a [map]", pattern(4000, 2)},
                  {"\xE6\x97\xA5/empty", "<dir>"}, {"\xE6\x97\xA5/\xC3\xA9t\xC3\xA9", "u"}});
  write_file(dir / "two.brq", std::string(100'000, 'x'));  // replaced whole
  for (const char* name : {"one.brq", "two.brq"}) {
    const RunResult run = brq({"pack", utf8(src), utf8(dir / name)});
    EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(0, ""));
    EXPECT_NE(run.out.find("4 files"), std::string::npos) << run.out;
  }
  EXPECT_TRUE(read_file(dir / "one.brq") == read_file(dir / "two.brq"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
  EXPECT_TRUE(kelvarin_tree(dir / "one.brq", dir / "out") == snapshot(src));
}

// As tar packs: PATHs below -C DIR, merged into one tree and standing in
// the archive by those paths; --exclude; '-' writes standard output; and
// extract without DEST fills the current folder. A PATH given twice, inside
// another or not there writes nothing (status 1).
TEST(BrqPack, PathsBelowAFolderExclusionsAndStandardOutput) {
  TempDir dir;
  const fs::path src = dir / "src";
  fs::create_directories(src / "maps" / "deep");
  fs::create_directories(dir / "here");
  write_file(src / "maps" / "deep" / "a.map", "a");
  write_file(src / "maps" / "b.map", "b");
  write_file(src / "maps" / "b.bak", "x");
  write_file(src / "readme", "r");
  write_file(src / "other", "o");
  const std::string archive = utf8(dir / "a.brq");
  RunResult run = brq({"pack", "-C", utf8(src), "-o", archive, "maps/deep", "./readme", "maps\\b.map"});
  ASSERT_EQ(run.status, 0) << run.err;
  const fs::path before = fs::current_path();
  fs::current_path(dir / "here");
  run = brq({"extract", "-q", archive});
  fs::current_path(before);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(snapshot(dir / "here"), (Tree{{"maps", "<dir>"}, {"maps/b.map", "b"}, {"maps/deep", "<dir>"},
                                          {"maps/deep/a.map", "a"}, {"readme", "r"}}));
  // The same tree, less what is excluded: the same bytes.
  run = brq({"pack", "--exclude", "*.bak", "--exclude=/other", utf8(src), "-"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out == read_file(dir / "a.brq"));
  EXPECT_EQ(run.err, "Packed 6 entries (3 files, 3 folders), 273 bytes: standard output\n");
  for (const auto& [paths, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"maps", "maps/b.map"}, "maps/b.map lies inside maps, which is given too"},
           {{"readme", ".", "other"}, "readme lies inside ., which is given too"},
           {{"readme/", "./readme"}, "readme is given twice"},
           {{"readme", "nope"}, utf8(src) + "/nope: no such file or folder"},
           {{"readme/x"}, utf8(src) + "/readme: is not a folder, so nothing chosen lies inside it"}}) {
    std::vector<std::string> args = {"pack", "-C", utf8(src), "-o", utf8(dir / "b.brq")};
    args.insert(args.end(), paths.begin(), paths.end());
    run = brq(args);
    EXPECT_EQ(run.status, 1) << error;
    EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "b.brq"));
}

// A tree is held in a few numbers an entry, not an object each: 20,000
// empty files take less than 100 bytes each at the peak of a pack, over
// what packing one file takes.
TEST(BrqPack, MemoryStaysBelowAHundredBytesAnEntry) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory is not the program's";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer's shadow memory is not the program's";
#endif
#endif
  TempDir dir;
  constexpr int kFolders = 20, kFiles = 1000;
  for (int folder = 0; folder < kFolders; ++folder) {
    const fs::path path = dir / "big" / ("d" + std::to_string(folder));
    fs::create_directories(path);
    for (int file = 0; file < kFiles; ++file) write_file(path / ("f" + std::to_string(file)), "");
  }
  fs::create_directories(dir / "small");
  write_file(dir / "small" / "f", "");
  const auto pack = [&](const std::string& tree) {
    return run_in_child([&] { return brq({"pack", utf8(dir / tree), utf8(dir / (tree + ".brq"))}).status; });
  };
  const Child small = pack("small"), big = pack("big");
  if (!big.ran) GTEST_SKIP() << "needs a child process to measure";
  EXPECT_EQ(std::make_pair(small.status, big.status), std::make_pair(0, 0));
  EXPECT_LT((big.peak_kib - small.peak_kib) * 1024, std::uint64_t{100} * kFolders * kFiles)
      << big.peak_kib << " KiB against " << small.peak_kib;
}

// Reading ahead holds files open; where the process may hold few, a file
// it could not open ahead is opened at its turn, not taken for unreadable.
TEST(BrqPack, ReadingAheadStepsBackWhenFewFilesMayBeOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a limit on open files";
#else
  TempDir dir;
  fs::create_directories(dir / "src");
  for (int i = 0; i < 120; ++i) write_file(dir / "src" / ("f" + std::to_string(i)), std::to_string(i));
  const Child child = run_in_child([&] {
    const struct rlimit few{28, 28};
    if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return 120;
    const RunResult run = brq({"pack", utf8(dir / "src"), utf8(dir / "a.brq")});
    std::printf("%s", run.err.c_str());
    return run.status;
  });
  EXPECT_EQ(std::make_tuple(child.status, child.out), std::make_tuple(0, "")) << child.out;
  EXPECT_TRUE(kelvarin_tree(dir / "a.brq", dir / "out") == snapshot(dir / "src"));
#endif
}

// As tar does: what an archive can't hold is named and left out, with all
// it holds, and the rest is packed (status 2).
TEST(BrqPack, WhatAnArchiveCantHoldIsLeftOutAndTheRestPacked) {
  // Such names and links can't be made on Windows: only the size is tried there.
  const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> cases = {
      {"big: the file has 2147483648 bytes", [](const fs::path& src) {
         write_file(src / "big", "");
         fs::resize_file(src / "big", std::uint64_t{1} << 31);  // sparse
       }},
      {"a\\b: the name holds a path separator", [](const fs::path& src) {
         fs::create_directory(src / "a\\b");
         write_file(src / "a\\b" / "inside", "x");
       }},
      {"bad\xEF\xBF\xBD: the name is not UTF-8", [](const fs::path& src) { write_file(src / "bad\xFF", "x"); }},
      {"link: is a link, which an archive can't hold",
       [](const fs::path& src) { fs::create_symlink("/etc/hostname", src / "link"); }},
  };
  for (const auto& [message, make] : cases) {
    if (kOnWindows && message.rfind("big", 0) != 0) continue;
    TempDir dir;
    make_tree(dir / "src", {{"ok", "fine"}, {"sub", "<dir>"}});
    make(dir / "src" / "sub");
    const RunResult run = brq({"pack", utf8(dir / "src"), utf8(dir / "a.brq")});
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_NE(run.out.find(", 1 left out: "), std::string::npos) << message << run.out;
    EXPECT_EQ(run.err.rfind("ERROR: " + utf8(dir / "src") + "/sub/", 0), 0u) << message << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << message << "\n" << run.err;
    EXPECT_EQ(count_lines(run.err, "ERROR: "), 1) << run.err;
    EXPECT_EQ(kelvarin_tree(dir / "a.brq", dir / "out"), (Tree{{"ok", "fine"}, {"sub", "<dir>"}})) << message;
  }
  // 33 files just under 2 GiB each: the last would begin past 64 GiB. Nothing
  // is read to find that out, so the files need not exist.
  std::vector<SourceNode> files(33);
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].name = "f" + std::to_string(i);
    files[i].disk_file = i;
    files[i].size = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  }
  const std::vector<SourceNode> tree = {source_folder("", std::move(files))};
  EXPECT_NE(lay_out(tree).error().cause().find("64 GiB"), std::string::npos);
}

TEST(BrqPack, ArchiveInsideThePackedFolderOrNoFolderIsRefused) {
  TempDir dir;
  make_tree(dir / "src", {{"f", "x"}, {"sub", "<dir>"}});
  std::error_code no_symlinks;  // the same folder under another name: told by what it is, not its spelling
  fs::create_directory_symlink(dir / "src" / "sub", dir / "alias", no_symlinks);
  for (const fs::path& target : {dir / "src" / "sub" / ".." / "a.brq", dir / "src", dir / "alias" / "a.brq"}) {
    const RunResult run = brq({"pack", utf8(dir / "src"), utf8(target)});
    EXPECT_EQ(std::make_tuple(run.status, count_lines(run.err, "ERROR: ")), std::make_tuple(1, 1)) << target << run.err;
  }
  EXPECT_EQ(snapshot(dir / "src").size(), 2u);
  const RunResult missing = brq({"pack", utf8(dir / "nowhere"), utf8(dir / "a.brq")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
}

// The archive replaces a file of its name and nothing else: a pipe (a
// device or socket alike) or a link named as the archive is refused and
// left as it is, and so is what the link leads to.
TEST(BrqPack, ArchiveNamedAsSomethingElseThanAFileIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "needs pipes and symbolic links";
#else
  TempDir dir;
  make_tree(dir / "src", {{"f", "x"}});
  write_file(dir / "target", "the link's target");
  ASSERT_EQ(::mkfifo((dir / "pipe.brq").c_str(), 0600), 0);
  fs::create_symlink(dir / "target", dir / "link.brq");
  for (const char* name : {"pipe.brq", "link.brq"}) {
    const RunResult run = brq({"pack", utf8(dir / "src"), utf8(dir / name)});
    EXPECT_EQ(std::make_tuple(run.status, count_lines(run.err, "ERROR: " + utf8(dir / name) + " is ")),
              std::make_tuple(1, 1))
        << name << run.err;
  }
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir / "pipe.brq")));
  EXPECT_TRUE(fs::is_symlink(dir / "link.brq"));
  EXPECT_EQ(read_file(dir / "target"), "the link's target");
#endif
}

// The archive's home is Windows: names it can't hold, and names that are
// one name there, are each refused on every OS unless asked for.
TEST(BrqPack, NamesWindowsCantHoldAreRefusedUnlessAllowed) {
  if (kOnWindows) GTEST_SKIP() << "Windows can't make these names to pack";
  TempDir dir;
  make_tree(dir / "src", {{"CON.txt", "x"}, {"what?.txt", "x"}, {"dot.", "x"}, {"Read.me", "x"}, {"read.ME", "x"}, {"fine", "x"}});
  RunResult run = brq({"pack", utf8(dir / "src"), utf8(dir / "a.brq")});
  EXPECT_EQ(run.status, 2);
  const std::string src = utf8(dir / "src");
  EXPECT_EQ(run.err, "ERROR: " + src + "/CON.txt: the name is a device on Windows (--allow-unportable stores it all the same)\n"
                     "ERROR: " + src + "/dot.: Windows drops a dot or space at the end of a name (--allow-unportable stores it all the same)\n"
                     "ERROR: " + src + "/read.ME: differs only in case from Read.me, which Windows takes for the same name "
                     "(--allow-unportable stores it all the same)\n"
                     "ERROR: " + src + "/what?.txt: the name holds a character that Windows does not allow "
                     "(--allow-unportable stores it all the same)\n"
                     "ERROR: Nothing written: 4 entries would not come back as they are on Windows\n");
  EXPECT_FALSE(fs::exists(dir / "a.brq"));
  EXPECT_EQ(brq({"pack", "--allow-unportable", src, utf8(dir / "a.brq")}).status, 0);
  EXPECT_EQ(count_lines(brq({"list", utf8(dir / "a.brq")}).out, "file "), 6);
  // With something to leave out as well: named too, and still nothing written.
  fs::create_symlink("fine", dir / "src" / "link");
  run = brq({"pack", src, utf8(dir / "b.brq")});
  EXPECT_EQ(std::make_tuple(run.status, count_lines(run.err, "ERROR: "), run.out), std::make_tuple(2, 6, ""));
  EXPECT_FALSE(fs::exists(dir / "b.brq"));
}

// -h (--dereference), as tar -h: a link to a file or folder inside the
// tree stands for what it leads to; one leading out of it, nowhere, or to
// a folder it lies in is named and left out, once, and never followed.
TEST(BrqPack, DereferenceFollowsLinksInsideTheTreeOnly) {
  if (kOnWindows) GTEST_SKIP() << "needs symbolic links";
  TempDir dir;
  const fs::path src = dir / "src";
  const Tree real = {{"real", "<dir>"}, {"real/f", "F"}, {"real/sub", "<dir>"}, {"real/sub/g", "G"}};
  make_tree(src, real);
  make_tree(dir / "outside", {{"secret", "SECRET"}});
  fs::create_symlink("real/f", src / "linkfile");
  fs::create_directory_symlink("real", src / "linkdir");
  fs::create_directory_symlink(".", src / "loop");
  fs::create_directory_symlink("..", src / "real" / "up");
  fs::create_directory_symlink("../outside", src / "out");
  fs::create_symlink("nowhere", src / "dangling");
  Tree followed = real;
  followed.insert({{"linkdir", "<dir>"}, {"linkdir/f", "F"}, {"linkdir/sub", "<dir>"}, {"linkdir/sub/g", "G"},
                   {"linkfile", "F"}});
  for (const auto& [option, tree, lines] : std::vector<std::tuple<std::string, Tree, int>>{
           {"-h", followed, 4}, {"--dereference", followed, 4}, {"--no-progress", real, 6}}) {
    const RunResult run = brq({"pack", option, utf8(src), utf8(dir / "a.brq")});
    EXPECT_EQ(std::make_tuple(run.status, count_lines(run.err, "ERROR: " + utf8(src) + "/")), std::make_tuple(2, lines))
        << option << "\n" << run.err;
    fs::remove_all(dir / "out");
    EXPECT_EQ(kelvarin_tree(dir / "a.brq", dir / "out"), tree) << option;
  }
  const RunResult run = brq({"pack", "-h", utf8(src), utf8(dir / "a.brq")});
  for (const std::string told : {"/dangling: is a link that leads nowhere: ", "/loop: is a link to a folder it lies in",
                                  "/out: is a link leading out of ", "/real/up: is a link to a folder it lies in"}) {
    EXPECT_EQ(count_lines(run.err, "ERROR: " + utf8(src) + told), 1) << told << "\n" << run.err;
  }
}

// Between the scan and the read a file is swapped for a link to a secret or
// for another file, or its folder for a link; or the file shrinks, or is
// rewritten in place (same size, new bytes) while it is read. What is read
// must be what was scanned, so each is refused and the secret never reaches
// the archive; a file rewritten once is read again and stored whole, never
// as a mix of its two versions.
TEST(BrqPack, FilesChangedAfterTheScanAreRefusedNotPacked) {
  if (kOnWindows) GTEST_SKIP() << "needs symbolic links";
  const std::size_t size = 3 << 20;
  int rewrites = 0;
  std::size_t last = 0;
  // The file rewritten as each reading passes its first mebibyte, with its
  // own time of last write, so that even a clock too coarse shows it.
  const auto rewrite = [&](const fs::path& dir, std::size_t written, int most) {
    const fs::path file = dir / "src" / "sub" / "f";
    const bool passed = last <= (1u << 20) && written > (1u << 20);
    last = written;
    if (!passed || rewrites >= most) return;
    ++rewrites;
    write_file(file, pattern(size, 10 + rewrites));
    fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(rewrites));
  };
  struct Change {
    std::string cause;  // empty: stored whole
    bool during;
    std::function<void(const fs::path&, std::size_t)> change;
    bool can_rewind = true;  // false: a pipe, which can't be taken back
  };
  const std::vector<Change> changes = {
      {"is a link", false, [](const fs::path& dir, std::size_t) {
         fs::remove(dir / "src" / "sub" / "f");
         fs::create_symlink(dir / "secret", dir / "src" / "sub" / "f");
       }},
      {"it changed after", false, [](const fs::path& dir, std::size_t) {
         fs::remove(dir / "src" / "sub" / "f");
         write_file(dir / "src" / "sub" / "f", "SECR");
       }},
      {"is a link", false, [](const fs::path& dir, std::size_t) {
         fs::rename(dir / "src" / "sub", dir / "moved");
         fs::create_directories(dir / "elsewhere");
         fs::create_symlink(dir / "secret", dir / "elsewhere" / "f");
         fs::create_directory_symlink(dir / "elsewhere", dir / "src" / "sub");
       }},
      {"it shrank below its 3145728 bytes while it was read", true, [](const fs::path& dir, std::size_t written) {
         if (written > (1u << 20)) fs::resize_file(dir / "src" / "sub" / "f", 3 << 19);
       }},
      {"", true, [&](const fs::path& dir, std::size_t written) { rewrite(dir, written, 1); }},
      {"it changed as it was read, and again", true,
       [&](const fs::path& dir, std::size_t written) { rewrite(dir, written, 2); }},
      {"it changed as it was read", true, [&](const fs::path& dir, std::size_t written) { rewrite(dir, written, 1); },
       false},
  };
  for (const Change& row : changes) {
    TempDir dir;
    rewrites = 0;
    last = 0;
    fs::create_directories(dir / "src" / "sub");
    write_file(dir / "src" / "sub" / "f", row.during ? pattern(size, 10) : "fine");
    write_file(dir / "secret", "SECR");
    platform::Folder root;
    ASSERT_TRUE(platform::open_folder(utf8(dir / "src"), root).ok());
    FolderSource files(std::move(root), utf8(dir / "src"));
    ScanReport report;
    const std::vector<SourceNode> tree = {files.scan({}, report).value()};
    ASSERT_TRUE(report.left_out.empty() && report.unportable.empty());
    const ArchiveLayout layout = lay_out(tree).value();
    std::string written;
    if (!row.during) row.change(dir.path(), 0);
    const Error error = write_archive(
        layout,
        [&](const char* bytes, std::size_t length) {
          written.append(bytes, length);
          if (row.during) row.change(dir.path(), written.size());
          return Error{};
        },
        &files,
        row.can_rewind ? ArchiveRewind([&](std::uint64_t position) {
          written.resize(position);
          return Error{};
        })
                       : ArchiveRewind());
    if (row.cause.empty()) {
      ASSERT_TRUE(error.ok()) << error.message();
      EXPECT_EQ(rewrites, 1);
      EXPECT_TRUE(written.substr(layout.data[0].position) == read_file(dir / "src" / "sub" / "f"));
      continue;
    }
    EXPECT_NE(error.cause().find(row.cause), std::string::npos) << row.cause << ": " << error.cause();
    EXPECT_EQ(error.path(), utf8(dir / "src") + "/sub/f");
    EXPECT_EQ(written.find("SECR"), std::string::npos) << row.cause;
  }
}

// What edits leave behind, and writers other than brq pack may: data
// further apart than the alignment asks, a file hidden by a later one of
// its name, a folder given twice, a named root, an entry linked from
// nowhere. check counts the bytes no file's data cover; compact gives them
// back, to the very archive brq pack makes of the extraction, and loses
// no entry an extraction leaves out unless told to drop it.
TEST(BrqCompact, GivesBackUnusedBytesAsPackOfTheExtractionWould) {
  TempDir dir;
  // Files in entry and data order: d/a, d/b, c, d/e, c again, top.bin.
  const std::vector<SourceNode> tree = {
      source_folder("r", {source_folder("d", {source_file("a", "AAA"), source_file("b", pattern(32, 1))}),
                          source_file("c", pattern(16, 2)), source_folder("d", {source_file("e", pattern(16, 3))}),
                          source_file("c", pattern(20, 4))}),
      source_file("top.bin", "T")};
  ArchiveLayout layout = lay_out(tree).value();
  layout.entries[2].next_sibling = kNoEntry;  // d/b
  for (std::size_t k = 2; k < layout.data.size(); ++k) {
    layout.offsets[k] += 4;
    layout.data[k].position += 64;
  }
  layout.total_size += 64;
  const fs::path archive = write_layout(dir / "a.brq", layout);
  // a's padding, d/b's 32 bytes and the 64 before c; not the 12 before top.bin.
  EXPECT_NE(brq({"check", utf8(archive)}).out.find("\nunused bytes 109\n"), std::string::npos);
  ASSERT_EQ(brq({"extract", "-q", utf8(archive), utf8(dir / "out")}).status, 0);
  ASSERT_EQ(brq({"pack", utf8(dir / "out"), utf8(dir / "packed.brq")}).status, 0);
  layout.sizes[8].file_size = -1;  // top.bin
  const fs::path damaged = write_layout(dir / "damaged.brq", layout);
  const std::string damaged_bytes = read_file(damaged);

  RunResult run = brq({"compact", utf8(archive)});
  EXPECT_EQ(std::make_tuple(run.status, run.err), std::make_tuple(0, "")) << run.out;
  EXPECT_TRUE(read_file(archive) == read_file(dir / "packed.brq"));
  EXPECT_NE(brq({"check", "--json", utf8(archive)}).out.find("\"unreachable\": 0, \"unused\": 0,"),
            std::string::npos);

  run = brq({"compact", utf8(damaged)});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.err, "ERROR: entry 8, top.bin: its size -1 is negative"), 1) << run.err;
  EXPECT_EQ(count_lines(run.err, "ERROR: Nothing changed: 1 entry"), 1) << run.err;
  EXPECT_TRUE(read_file(damaged) == damaged_bytes);
  run = brq({"compact", "--drop-damaged", utf8(damaged)});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find(", 1 dropped: "), std::string::npos) << run.out;
  fs::remove(dir / "out" / "top.bin");
  ASSERT_EQ(brq({"pack", utf8(dir / "out"), utf8(dir / "packed.brq")}).status, 0);
  EXPECT_TRUE(read_file(damaged) == read_file(dir / "packed.brq"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}

const fs::path kExamples = fs::path(KELVARIN_SOURCE_DIR) / "examples";

TEST(SampleArchive, PacksFromItsFolderAndExtractsBackToIt) {
  TempDir dir;
  const RunResult pack = brq({"pack", utf8(kExamples / "sample"), utf8(dir / "sample.brq")});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_TRUE(read_file(dir / "sample.brq") == read_file(kExamples / "sample.brq"))
      << "regenerate with: build/brq pack examples/sample examples/sample.brq";
  EXPECT_EQ(kelvarin_tree(kExamples / "sample.brq", dir / "out"), snapshot(kExamples / "sample"));
}

}  // namespace
}  // namespace kelvarin::testing
