// The plan: one walk decides what every entry becomes (written, merged
// into an earlier folder, replaced by a later file, left out because a
// file and a folder share a name, refused with what it holds, or not
// chosen), for the whole archive or a selection, within the limits of
// depth and path length.
#include <gtest/gtest.h>

#include "extract/extraction.h"
#include "extract/extraction_plan.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

struct Planned {
  Result<ArchiveIndex> index;
  Result<ExtractionPlan> plan;

  Planned(const fs::path& archive, const SelectionRequest* request = nullptr, CaseRule rule = CaseRule::exact())
      : index(ArchiveIndex::open(utf8(archive))), plan(ExtractionPlan::make(index.value(), request, rule)) {}
  const PlannedEntry& operator[](std::uint32_t entry) const { return plan.value()[entry]; }
};

// Entries depth-first: 0 root, 1 a, 2 a (again), 3 d, 4 d/x, 5 d (again),
// 6 d/x, 7 d/y, 8 f, 9 f (a folder after the file), 10 f/z, 11 g, 12 g/w,
// 13 g (a file after the folder), 14 "" (a folder without a name), 15 its
// a, and the root's sibling 16 a.
TEST(ExtractionPlan, EachNameOnDiskOnceTheLaterFileAndTheFirstFolderWin) {
  TempDir dir;
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_file("a", "1"), source_file("a", "2"),
                          source_folder("d", {source_file("x", "3")}),
                          source_folder("d", {source_file("x", "4"), source_file("y", "5")}), source_file("f", "6"),
                          source_folder("f", {source_file("z", "7")}), source_folder("g", {source_file("w", "8")}),
                          source_file("g", "9"), source_folder("", {source_file("a", "10")})}),
       source_file("a", "11")});
  const Planned plan(archive);
  struct Expected {
    std::uint32_t entry;
    Fate fate;
    std::uint32_t value;  // place, or entries inside for what is left out
  };
  for (const Expected& e : std::vector<Expected>{
           {1, Fate::replaced, 1}, {2, Fate::replaced, 1}, {3, Fate::folder, 3}, {4, Fate::replaced, 4},
           {5, Fate::merged, 3}, {6, Fate::file, 4}, {7, Fate::file, 7}, {8, Fate::file, 8}, {9, Fate::left_out, 1},
           {11, Fate::folder, 11}, {12, Fate::file, 12}, {13, Fate::left_out, 0}, {15, Fate::replaced, 1},
           {16, Fate::file, 1}}) {
    EXPECT_EQ(plan[e.entry].fate, e.fate) << e.entry;
    EXPECT_EQ(e.fate == Fate::left_out ? plan[e.entry].inside() : plan[e.entry].place(), e.value) << e.entry;
  }
  EXPECT_EQ(plan[9].refusal, Refusal::file_holds_name);
  EXPECT_EQ(plan[10].fate, Fate::inside_left_out);
  EXPECT_EQ(plan[13].refusal, Refusal::folder_holds_name);
  EXPECT_EQ(plan[0].fate, Fate::folded);
  EXPECT_EQ(plan[14].fate, Fate::folded);
  // Every file written is counted for the progress line, replaced ones too.
  EXPECT_EQ(plan.plan.value().files_to_write(), 9u);
  EXPECT_EQ(plan.plan.value().left_out(), 3u);

  // What the plan says is what the extraction leaves.
  const Extracted run = extract_with(archive, dir / "out");
  EXPECT_EQ(snapshot(dir / "out"), (Tree{{"a", "11"}, {"d", "<dir>"}, {"d/x", "4"}, {"d/y", "5"}, {"f", "6"},
                                          {"g", "<dir>"}, {"g/w", "8"}}))
      << run.lines;
  EXPECT_EQ(count_lines(run.lines, "ERROR: Skipping entry 9, \\f: a file of the same name comes before it; the 1 "
                                   "entry inside it is skipped"),
            1)
      << run.lines;
  EXPECT_EQ(count_lines(run.lines, "ERROR: Skipping entry 13, \\g: a folder of the same name comes before it"), 1);
}

// Where the destination ignores case, names that differ only in case are
// one name: a later file of such a name is left out and the first stays, a
// folder merges into the first, a file and a folder are refused as of one
// name; a file of the very same name still replaces. Where it doesn't, each
// is its own; either way the plan counts them. The plan decides, so one
// worker or four leave the same.
TEST(ExtractionPlan, NamesDifferingOnlyInCaseAreOneWhereTheDestinationIgnoresCase) {
  TempDir dir;
  // 0 root, 1 x, 2 X, 3 d, 4 d/a, 5 D, 6 D/A, 7 f, 8 F, 9 F/z, 10 g, 11 g/w, 12 G, 13 x
  const fs::path archive = write_archive(
      dir / "a.brq",
      {source_folder("", {source_file("x", "1"), source_file("X", "2"), source_folder("d", {source_file("a", "3")}),
                          source_folder("D", {source_file("A", "4")}), source_file("f", "5"),
                          source_folder("F", {source_file("z", "6")}), source_folder("g", {source_file("w", "7")}),
                          source_file("G", "8"), source_file("x", "9")})});
  const Planned folding(archive, nullptr, CaseRule::folding());
  const Planned exact(archive, nullptr, CaseRule::exact());
  struct Expected {
    std::uint32_t entry;
    Fate fate;
    Refusal refusal;
    std::uint32_t value;  // place (for a case twin the earlier file), or entries inside
    Fate exact_fate;
  };
  for (const Expected& e : std::vector<Expected>{{1, Fate::replaced, Refusal::none, 1, Fate::replaced},
                                                 {2, Fate::left_out, Refusal::case_twin, 1, Fate::file},
                                                 {5, Fate::merged, Refusal::none, 3, Fate::folder},
                                                 {6, Fate::left_out, Refusal::case_twin, 4, Fate::file},
                                                 {8, Fate::left_out, Refusal::file_holds_name, 1, Fate::folder},
                                                 {12, Fate::left_out, Refusal::folder_holds_name, 0, Fate::file},
                                                 {13, Fate::file, Refusal::none, 1, Fate::file}}) {
    EXPECT_EQ(folding[e.entry].fate, e.fate) << e.entry;
    EXPECT_EQ(folding[e.entry].refusal, e.refusal) << e.entry;
    const bool counted = e.fate == Fate::left_out && e.refusal != Refusal::case_twin;
    EXPECT_EQ(counted ? folding[e.entry].inside() : folding[e.entry].place(), e.value) << e.entry;
    EXPECT_EQ(exact[e.entry].fate, e.exact_fate) << e.entry;
  }
  const std::vector<std::uint32_t> twins = {2, 5, 6, 8, 12};
  EXPECT_EQ(folding.plan.value().case_twins(), twins);
  EXPECT_EQ(exact.plan.value().case_twins(), twins);

  // A disk that says it ignores case, with one worker and with four.
  struct IgnoringCase final : platform::FileSystemWrapper {
    IgnoringCase() : FileSystemWrapper(platform::os_file_system()) {}
    Error folds_case(const platform::Folder&, const platform::NativeString&, const platform::NativeString&,
                     bool& folds) override {
      folds = true;
      return {};
    }
  } ignoring_case;
  // The merged folder is opened by the first one's name.
  const Tree left = {{"x", "9"}, {"d", "<dir>"}, {"d/a", "3"}, {"f", "5"}, {"g", "<dir>"}, {"g/w", "7"}};
  std::vector<std::string> lines;
  for (const unsigned jobs : {1u, 4u}) {
    const fs::path out = dir / ("out" + std::to_string(jobs));
    const Extracted run = extract_with(archive, out, {}, {}, &ignoring_case, jobs);
    EXPECT_EQ(snapshot(out), left) << run.lines;
    EXPECT_EQ(run.summary.refused, 5u);
    EXPECT_EQ(count_lines(run.lines, "ERROR: Skipping entry 6, \\D\\A: its name differs only in case from a, which "
                                     "comes before it, and the destination ignores case\n"),
              1)
        << run.lines;
    lines.push_back(run.lines);
  }
  EXPECT_EQ(lines[0], lines[1]);

  // The disk itself is asked once, through a name of its own that it leaves
  // nowhere; here it tells case apart (Windows never does).
  const Destination probed = open_destination({utf8(dir / "probed")});
  EXPECT_EQ(probed.case_rule, CaseRule(kOnWindows));
  EXPECT_TRUE(fs::is_empty(dir / "probed"));
}

// With a selection: what is chosen, the folders on the way, what is passed
// over; a name held only by what is not chosen is free; a refused folder a
// requested path leads into answers that path.
TEST(ExtractionPlan, SelectionChoosesWithTheFoldersOnTheWay) {
  TempDir dir;
  // 0 root, 1 d (a file), 2 d (a folder), 3 d/a, 4 d/b, 5 e, 6 e/c, 7 .., 8 ../x, 9 ../y
  const fs::path archive = write_archive(
      dir / "a.brq", {source_folder("", {source_file("d", "file d"),
                                         source_folder("d", {source_file("a", "A"), source_file("b", "B")}),
                                         source_folder("e", {source_file("c", "C")}),
                                         source_folder("..", {source_file("x", "X"), source_file("y", "Y")})})});
  SelectionRequest request{{"d/a", "../x", "nothing"}, {}, false};
  const Planned plan(archive, &request);
  EXPECT_EQ(plan[1].fate, Fate::passed_over);
  EXPECT_EQ(plan[2].fate, Fate::folder);  // on the way, not taken itself
  EXPECT_FALSE(plan[2].taken);
  EXPECT_EQ(plan[3].fate, Fate::file);
  EXPECT_EQ(plan[4].fate, Fate::passed_over);
  EXPECT_EQ(plan[5].fate, Fate::passed_over);
  EXPECT_EQ(plan[6].fate, Fate::passed_over);
  EXPECT_EQ(plan[7].fate, Fate::left_out);
  EXPECT_TRUE(plan[7].taken);
  // Told of for the path asked inside it: of what it holds, that is counted.
  EXPECT_EQ(plan[7].inside(), 1u);
  EXPECT_EQ(plan.plan.value().left_out(), 2u);
  EXPECT_EQ(plan[8].fate, Fate::inside_left_out);
  EXPECT_EQ(plan.plan.value().missing(), std::vector<std::size_t>{2});
  EXPECT_EQ(plan.plan.value().named()[0], std::vector<std::uint32_t>{3});
  EXPECT_EQ(plan.plan.value().named()[1], std::vector<std::uint32_t>{7});

  // Excluded, a folder is not even walked; a pattern without a '/'
  // excludes by name wherever it stands.
  request = {{}, {"d", "c"}, false};
  const Planned excluded(archive, &request);
  EXPECT_EQ(excluded[2].fate, Fate::passed_over);
  EXPECT_EQ(excluded[3].fate, Fate::unreached);
  EXPECT_EQ(excluded[6].fate, Fate::passed_over);
  EXPECT_EQ(excluded[5].fate, Fate::folder);
  EXPECT_TRUE(excluded.plan.value().takes_anything());
}

// Folders nest at most 512 deep and paths are at most 4,096 bytes: what
// lies beyond is one refusal with the count of what it holds, so no walk
// over the archive builds longer paths.
TEST(ExtractionPlan, DepthAndPathLengthAreBounded) {
  TempDir dir;
  auto chain = [](std::size_t levels, const std::string& name) {
    SourceNode node = source_file("leaf", "x");
    for (std::size_t i = 0; i < levels; ++i) node = source_folder(name, {std::move(node)});
    return node;
  };
  const fs::path deep = write_archive(dir / "deep.brq", {source_folder("", {chain(600, "d")})});
  const Planned deep_plan(deep);
  // Entry k + 1 is the folder inside k others; the first refused lies
  // inside 513 (the root's and 512 of its own).
  EXPECT_EQ(deep_plan[512].fate, Fate::folder);
  EXPECT_EQ(deep_plan[513].fate, Fate::left_out);
  EXPECT_EQ(deep_plan[513].refusal, Refusal::too_deep);
  EXPECT_EQ(deep_plan[513].inside(), 600u - 513 + 1);

  // 9 folders of 500 bytes fit in 4,096; the 9th's path is 9 * 501 bytes.
  const std::string long_name(500, 'n');
  const fs::path wide = write_archive(dir / "wide.brq", {source_folder("", {chain(12, long_name)})});
  const Planned wide_plan(wide);
  EXPECT_EQ(wide_plan[8].fate, Fate::folder);
  EXPECT_EQ(wide_plan[9].fate, Fate::left_out);
  EXPECT_EQ(wide_plan[9].refusal, Refusal::path_too_long);
  EXPECT_EQ(wide_plan[9].inside(), 4u);
  const RunResult listed = brq({"list", utf8(wide)});
  EXPECT_EQ(listed.status, 2);
  EXPECT_EQ(count_lines(listed.err, "ERROR: Skipping entry 9, "), 1) << listed.err;
  EXPECT_NE(listed.err.find(": its path is 4509 bytes long, more than the 4096 a path may have; the 4 entries "
                            "inside it are skipped\n"),
            std::string::npos)
      << listed.err;
}

}  // namespace
}  // namespace kelvarin::testing
