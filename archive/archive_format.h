// The on-disk layout of a .brq archive and the explicit little-endian
// decoding and encoding of its records.
//
// Layout (N = entry_count, M = offset_count, S = name_pool_size):
//   0                  header, six 32-bit words
//   24                 entry table, N records of 16 bytes
//   24 + 16N           size table, N records of 12 bytes
//   24 + 28N           offset table, M words
//   24 + 28N + 4M      name pool, S bytes of zero-terminated UTF-8 names
//   word × 16          each file's bytes, where the offset table says
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvarin {

inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::size_t kEntryRecordSize = 16;
inline constexpr std::size_t kSizeRecordSize = 12;
inline constexpr std::size_t kOffsetWordSize = 4;
inline constexpr std::uint64_t kDataAlignment = 16;

// Counts at or beyond these are refused: the tables they would describe
// can't be addressed by the format's 32-bit sizes.
inline constexpr std::int64_t kEntryCountLimit = std::int64_t{1} << 27;
inline constexpr std::uint64_t kOffsetCountLimit = std::uint64_t{1} << 30;

// No file system takes a name this long (255 bytes on Linux, 255 UTF-16
// units on Windows); refusing longer ones early keeps a small archive from
// printing and composing paths of megabytes per entry.
inline constexpr std::size_t kMaxNameBytes = 1024;

// A stored link of -1 means none; so does 0, since entry 0 is the root and
// can be nobody's child or sibling.
inline constexpr std::int32_t kNoEntry = -1;
inline constexpr std::uint32_t kNoNode = 0;

struct ArchiveHeader {
  std::uint32_t word0 = 0;  // not interpreted
  std::uint32_t word1 = 0;  // not interpreted
  std::int32_t entry_count = 0;
  std::uint32_t offset_count = 0;
  std::uint32_t name_pool_size = 0;
  std::uint32_t word5 = 0;  // not interpreted
};

struct EntryRecord {
  std::int32_t next_sibling = kNoEntry;
  std::int32_t first_child = kNoEntry;  // -1 marks a file; anything else a directory
  std::int32_t third_link = kNoEntry;   // not used by extraction
  std::uint32_t name_offset = 0;
};

struct SizeRecord {
  std::uint32_t word0 = 0;  // not interpreted
  std::int32_t file_size = 0;
  std::uint32_t word2 = 0;  // not interpreted
};

inline std::uint32_t load_u32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

inline std::int32_t load_i32(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(load_u32(bytes));
}

inline void store_u32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
  bytes[2] = static_cast<std::uint8_t>(value >> 16);
  bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

// The first bytes that tell the formats people mistake for an archive:
// a tar's "ustar" mark ends here.
inline constexpr std::size_t kOtherFormatBytes = 262;

// The formats a file given for an archive is most often in instead.
enum class OtherFormat : std::uint8_t { none, tar, zip, gzip, seven_zip, xz };

// What the file starting with `bytes` (`length` of them, fewer than
// kOtherFormatBytes when the file is shorter) looks like when it is a tar,
// zip, gzip, 7z or xz file; none for none of them.
OtherFormat other_format(const std::uint8_t* bytes, std::size_t length);

ArchiveHeader decode_header(const std::uint8_t* bytes);
EntryRecord decode_entry(const std::uint8_t* bytes);
SizeRecord decode_size(const std::uint8_t* bytes);

void encode_header(const ArchiveHeader& header, std::uint8_t* bytes);
void encode_entry(const EntryRecord& entry, std::uint8_t* bytes);
void encode_size(const SizeRecord& size, std::uint8_t* bytes);

// Where the index ends and file data may begin, computed in 64 bits.
inline std::uint64_t index_size(std::uint64_t entry_count, std::uint64_t offset_count,
                                std::uint64_t name_pool_size) {
  return kHeaderSize + (kEntryRecordSize + kSizeRecordSize) * entry_count +
         kOffsetWordSize * offset_count + name_pool_size;
}

// A file's first byte: its offset-table word in 16-byte units. Done in 64
// bits, so data up to 64 GiB are reached.
inline std::uint64_t data_position(std::uint32_t offset_word) {
  return std::uint64_t{offset_word} * kDataAlignment;
}

}  // namespace kelvarin
