// Files whose data lie beyond 4 GiB are reached with 64-bit positions, and
// index sizes are summed without overflow.
#include <gtest/gtest.h>

#include <fstream>

#include "archive/archive_format.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(DataPosition, PositionsAndIndexSizesUseSixtyFourBits) {
  EXPECT_EQ(data_position(0xFFFFFFFFu), 0xFFFFFFFFull * 16);
  EXPECT_EQ(index_size(0x7FFFFFF, 0x3FFFFFFF, 0xFFFFFFFFu),
            24 + 28ull * 0x7FFFFFF + 4ull * 0x3FFFFFFF + 0xFFFFFFFFull);
}

TEST(DataPosition, FileDataAtFiveGibibytesExtracts) {
  TempDir dir;
  const std::string far_bytes = "far away bytes";
  const std::vector<SourceNode> tree = {
      source_folder("", {source_file("near", "near"), source_file("far", far_bytes)})};
  ArchiveLayout layout = lay_out(tree);
  const std::uint64_t far_position = std::uint64_t{5} << 30;
  layout.offsets[1] = static_cast<std::uint32_t>(far_position / 16);
  layout.data.pop_back();  // "far" is written by hand below, sparsely
  const fs::path archive = write_layout(dir / "big.brq", layout);
  {
    std::fstream out(archive, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(far_position));
    out.write(far_bytes.data(), static_cast<std::streamsize>(far_bytes.size()));
    ASSERT_TRUE(out.good());
  }
  ASSERT_EQ(fs::file_size(archive), far_position + far_bytes.size());

  RunResult run = run_program({"e", utf8(archive), utf8(dir / "out")});
  EXPECT_EQ(run.out, kBanner + file_line("\\near", 4) + file_line("\\far", 14));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir / "out" / "far"), far_bytes);
  EXPECT_EQ(read_file(dir / "out" / "near"), "near");
}

}  // namespace
}  // namespace kelvarin::testing
