// The bundled sample: the archive is what the writer makes of the folder,
// and extracting it gives the folder back.
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
  RunResult run = run_program({"e", (kExamples / "sample.brq").string(), (dir / "out").string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(snapshot(dir / "out"), snapshot(kExamples / "sample"));
}

}  // namespace
}  // namespace kelvarin::testing
