// Decoding the archive's fixed records: explicit little-endian, signed
// fields kept signed, 64-bit data positions.
#include <gtest/gtest.h>

#include "archive/archive_format.h"

namespace kelvarin {
namespace {

TEST(Records, HeaderWordsAreLittleEndianInFileOrder) {
  const std::uint8_t bytes[kHeaderSize] = {1, 0, 0, 0,    2, 0, 0, 0,    0x10, 0x32, 0x54, 0x76,
                                           0xFF, 0, 0, 0, 0, 1, 0, 0,    0xEF, 0xBE, 0xAD, 0xDE};
  ArchiveHeader header = decode_header(bytes);
  EXPECT_EQ(header.word0, 1u);
  EXPECT_EQ(header.word1, 2u);
  EXPECT_EQ(header.entry_count, 0x76543210);
  EXPECT_EQ(header.offset_count, 255u);
  EXPECT_EQ(header.name_pool_size, 256u);
  EXPECT_EQ(header.word5, 0xDEADBEEFu);
}

TEST(Records, NegativeFieldsStayNegativeAndRoundTrip) {
  std::uint8_t bytes[kEntryRecordSize];
  encode_entry(EntryRecord{-1, 0, -7, 0xFFFFFFFFu}, bytes);
  EntryRecord entry = decode_entry(bytes);
  EXPECT_EQ(entry.next_sibling, -1);
  EXPECT_EQ(entry.first_child, 0);
  EXPECT_EQ(entry.third_link, -7);
  EXPECT_EQ(entry.name_offset, 0xFFFFFFFFu);

  std::uint8_t size_bytes[kSizeRecordSize] = {0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  EXPECT_EQ(decode_size(size_bytes).file_size, -2);
}

TEST(Records, DataPositionsUseSixtyFourBits) {
  EXPECT_EQ(data_position(0x08000000u), std::uint64_t{1} << 31);
  EXPECT_EQ(data_position(0xC0000000u), std::uint64_t{3} << 34);
  EXPECT_EQ(data_position(0xFFFFFFFFu), 0xFFFFFFFFull * 16);
  EXPECT_EQ(index_size(0x7FFFFFF, 0x3FFFFFFF, 0xFFFFFFFFu),
            24 + 28ull * 0x7FFFFFF + 4ull * 0x3FFFFFFF + 0xFFFFFFFFull);
}

}  // namespace
}  // namespace kelvarin
