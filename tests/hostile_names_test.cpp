// Names that would lead out of the destination folder are refused wherever
// they stand, the walk goes on, and nothing appears outside the destination.
#include <gtest/gtest.h>

#include <functional>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Every name that could lead out of its folder, as a file and as a folder
// (holding a file), in every position the walk meets names.
const std::vector<std::string> kHostileNames = {
    "..", ".", "a/../../x", "..\\..\\x", "/x", "\\x", "a/b", "a\\b", "x/", "\\", "",
};

struct Position {
  const char* what;
  std::function<std::vector<SourceNode>(SourceNode hostile, SourceNode ok)> top_level;
};

using Top = std::vector<SourceNode>;
const std::vector<Position> kPositions = {
    {"the root", [](SourceNode h, SourceNode ok) { return Top{h, ok}; }},
    {"the root's sibling", [](SourceNode h, SourceNode ok) { return Top{source_folder("", {ok}), h}; }},
    {"a named root's sibling",
     [](SourceNode h, SourceNode ok) { return Top{source_folder("r", {ok}), h}; }},
    {"inside the root", [](SourceNode h, SourceNode ok) { return Top{source_folder("", {h, ok})}; }},
    {"two folders down",
     [](SourceNode h, SourceNode ok) {
       return Top{source_folder("", {source_folder("a", {source_folder("b", {h, ok})})})};
     }},
};

TEST(HostileNames, TraversalNamesAreRefusedWhereverTheyStand) {
  int cases = 0;
  for (const std::string& name : kHostileNames) {
    for (const bool is_folder : {false, true}) {
      // An empty folder name is the usual root and adds nothing to a path.
      if (is_folder && name.empty()) continue;
      const SourceNode hostile =
          is_folder ? source_folder(name, {source_file("x", "evil")}) : source_file(name, "evil");
      for (const Position& position : kPositions) {
        for (const std::string trailing : {"", "/"}) {
          const std::string what = std::string(is_folder ? "folder " : "file ") + "'" + name +
                                   "' at " + position.what + ", destination 'out" + trailing + "'";
          TempDir sandbox;
          const fs::path archive = write_archive(
              sandbox / "a.brq", position.top_level(hostile, source_file("ok", "fine")));
          fs::create_directories(sandbox / "deep" / "er");
          const std::string dest = (sandbox / "deep" / "er" / "out").string() + trailing;
          RunResult run = run_in_process({"e", archive.string(), dest});
          EXPECT_EQ(run.status, 2) << what << "\n" << run.out;
          EXPECT_EQ(count_lines(run.out, "ERROR: "), 1) << what << "\n" << run.out;
          EXPECT_EQ(count_lines(run.out, "ERROR: Skipping entry "), 1) << what << "\n" << run.out;
          EXPECT_EQ(strays(sandbox.path(), "deep/er/out", {"a.brq"}), std::vector<std::string>{})
              << what;
          // The walk went on past the refused entry, and only the good file was written.
          std::vector<std::string> written;
          for (const auto& [path, content] : snapshot(sandbox / "deep" / "er" / "out")) {
            if (content != "<dir>") written.push_back(content);
          }
          EXPECT_EQ(written, std::vector<std::string>{"fine"}) << what;
          ++cases;
        }
      }
    }
  }
  EXPECT_EQ(cases, 210);
}

TEST(HostileNames, ExistingLinksInsideTheDestinationAreNotFollowed) {
  TempDir sandbox;
  fs::create_directories(sandbox / "out");
  fs::create_directories(sandbox / "elsewhere");
  std::error_code error;
  fs::create_directory_symlink(sandbox / "elsewhere", sandbox / "out" / "d", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  const fs::path archive = write_archive(
      sandbox / "a.brq", {source_folder("", {source_folder("d", {source_file("x", "evil")})})});
  RunResult run = run_program({"e", archive.string(), (sandbox / "out").string()});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_TRUE(fs::is_empty(sandbox / "elsewhere"));
}

}  // namespace
}  // namespace kelvarin::testing
