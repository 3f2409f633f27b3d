// The bundled sample and folders packed by the writer: the archive is what
// the writer makes of the folder, and extracting it gives the folder back.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

const fs::path kExamples = fs::path(KELVARIN_SOURCE_DIR) / "examples";

TEST(SampleArchive, WriterReproducesTheBundledArchive) {
  std::vector<SourceNode> top_level;
  top_level.push_back(source_tree_from_folder(kExamples / "sample"));
  ArchiveLayout layout = lay_out(top_level);
  ASSERT_EQ(layout.error, "");
  EXPECT_EQ(archive_bytes(layout), read_file(kExamples / "sample.brq"))
      << "regenerate with: build/make_archive examples/sample examples/sample.brq";
}

TEST(SampleArchive, ExtractingGivesTheFolderBack) {
  TempDir dir;
  RunResult run = run_program({"e", utf8(kExamples / "sample.brq"), utf8(dir / "out")});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(snapshot(dir / "out"), snapshot(kExamples / "sample"));
}

TEST(SampleArchive, FoldersWithNonAsciiNamesArePackedAndExtracted) {
  TempDir dir;
  const fs::path source = dir / "source";
  fs::create_directories(source / utf8_path("\xC3\x9C" "ber") / utf8_path("\xE6\x97\xA5"));
  write_file(source / utf8_path("\xC3\x9C" "ber") / utf8_path("\xE6\x97\xA5") / "f", "deep");
  std::vector<SourceNode> top_level;
  top_level.push_back(source_tree_from_folder(source));
  const fs::path archive = write_archive(dir / "a.brq", top_level);
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("\\\xC3\x9C" "ber\\\xE6\x97\xA5\\f", 4));
  EXPECT_EQ(snapshot(dir / "out"), snapshot(source));
}

}  // namespace
}  // namespace kelvarin::testing
