// Little-endian decoding and encoding of the archive's fixed-size records.
#include "archive/archive_format.h"

#include <cstring>
#include <string_view>

namespace kelvarin {

OtherFormat other_format(const std::uint8_t* bytes, std::size_t length) {
  struct Signature {
    std::size_t at;
    std::string_view bytes;
    OtherFormat format;
  };
  static constexpr Signature kSignatures[] = {
      {257, "ustar", OtherFormat::tar},  // POSIX "ustar\0" and GNU "ustar  "
      {0, "PK\x03\x04", OtherFormat::zip},
      {0, "PK\x05\x06", OtherFormat::zip},  // one with no files
      {0, "\x1F\x8B", OtherFormat::gzip},
      {0, {"7z\xBC\xAF\x27\x1C", 6}, OtherFormat::seven_zip},
      {0, {"\xFD" "7zXZ\0", 6}, OtherFormat::xz},
  };
  for (const Signature& signature : kSignatures) {
    if (length >= signature.at + signature.bytes.size() &&
        std::memcmp(bytes + signature.at, signature.bytes.data(), signature.bytes.size()) == 0) {
      return signature.format;
    }
  }
  return OtherFormat::none;
}

ArchiveHeader decode_header(const std::uint8_t* bytes) {
  ArchiveHeader header;
  header.word0 = load_u32(bytes);
  header.word1 = load_u32(bytes + 4);
  header.entry_count = load_i32(bytes + 8);
  header.offset_count = load_u32(bytes + 12);
  header.name_pool_size = load_u32(bytes + 16);
  header.word5 = load_u32(bytes + 20);
  return header;
}

EntryRecord decode_entry(const std::uint8_t* bytes) {
  return EntryRecord{load_i32(bytes), load_i32(bytes + 4), load_i32(bytes + 8),
                     load_u32(bytes + 12)};
}

SizeRecord decode_size(const std::uint8_t* bytes) {
  return SizeRecord{load_u32(bytes), load_i32(bytes + 4), load_u32(bytes + 8)};
}

void encode_header(const ArchiveHeader& header, std::uint8_t* bytes) {
  store_u32(bytes, header.word0);
  store_u32(bytes + 4, header.word1);
  store_u32(bytes + 8, static_cast<std::uint32_t>(header.entry_count));
  store_u32(bytes + 12, header.offset_count);
  store_u32(bytes + 16, header.name_pool_size);
  store_u32(bytes + 20, header.word5);
}

void encode_entry(const EntryRecord& entry, std::uint8_t* bytes) {
  store_u32(bytes, static_cast<std::uint32_t>(entry.next_sibling));
  store_u32(bytes + 4, static_cast<std::uint32_t>(entry.first_child));
  store_u32(bytes + 8, static_cast<std::uint32_t>(entry.third_link));
  store_u32(bytes + 12, entry.name_offset);
}

void encode_size(const SizeRecord& size, std::uint8_t* bytes) {
  store_u32(bytes, size.word0);
  store_u32(bytes + 4, static_cast<std::uint32_t>(size.file_size));
  store_u32(bytes + 8, size.word2);
}

}  // namespace kelvarin
