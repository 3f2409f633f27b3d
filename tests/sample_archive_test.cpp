// The bundled sample and folders packed by brq pack: the archive is what
// packing the folder makes, and extracting it gives the folder back.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

const fs::path kExamples = fs::path(KELVARIN_SOURCE_DIR) / "examples";

TEST(SampleArchive, PackingTheSampleFolderGivesTheBundledArchive) {
  TempDir dir;
  RunResult pack = run_brq({"pack", utf8(kExamples / "sample"), utf8(dir / "sample.brq")});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_EQ(read_file(dir / "sample.brq"), read_file(kExamples / "sample.brq"))
      << "regenerate with: build/brq pack examples/sample examples/sample.brq";
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
  const fs::path archive = dir / "a.brq";
  ASSERT_EQ(run_brq({"pack", utf8(source), utf8(archive)}).status, 0);
  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("\\\xC3\x9C" "ber\\\xE6\x97\xA5\\f", 4));
  EXPECT_EQ(snapshot(dir / "out"), snapshot(source));
}

}  // namespace
}  // namespace kelvarin::testing
