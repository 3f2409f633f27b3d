// Copying a file's bytes on Linux: in the kernel where it can (spliced
// through a pipe above one chunk, copy_file_range up to it), else through
// the one copy buffer; exact at every chunk boundary either way, also in
// the pieces that give back the source's cache, and a source that ends
// early a read failure. (A failing write: the file size limit test.)
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/posix_test_helper.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

using platform::kCopyChunk;

// The output opened as the program does, or for appending, which the
// kernel refuses to copy into.
platform::FileHandle open_output(const fs::path& path, bool append) {
  platform::FileHandle file;
  platform::Folder folder;
  EXPECT_TRUE(platform::open_folder(path.parent_path().string(), folder).ok());
  const std::string name = path.filename().string();
  fs::remove(path);
  EXPECT_TRUE((append ? platform::create_file_for_append(folder, name, file)
                      : platform::os_file_system().create_new_file(folder, name, file)).ok());
  return file;
}

TEST(KernelCopy, ExactAtEveryChunkBoundaryOnBothPathsAndShortSourcesAreReadFailures) {
  TempDir dir;
  // Not a multiple of 16 or of a page: nothing may depend on alignment.
  constexpr std::uint64_t kPosition = 12'345;
  // Past the 16 MiB pieces of a copy that gives back the source's cache.
  constexpr std::size_t kPieces = (std::size_t{16} << 20) * 2 + 3;
  const std::string bytes = pattern(kPieces + kPosition, 7);
  write_file(dir / "source", bytes);
  platform::FileHandle source;
  ASSERT_TRUE(platform::open_archive((dir / "source").string(), source).ok());
  // Each copy closes what it opened (the pipe of a spliced copy too).
  auto open_files = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
  const auto open_before = open_files();
  for (const bool append : {false, true}) {
    for (const auto way : {platform::CopyWay::stream, platform::CopyWay::share_blocks_of_replaced}) {
      for (const std::size_t size : {std::size_t{1}, kCopyChunk - 1, kCopyChunk, kCopyChunk + 1, kCopyChunk * 5 / 2,
                                     kPieces}) {
        const fs::path out = dir / ("out" + std::to_string(size));
        platform::FileHandle output = open_output(out, append);
        std::vector<char> buffer;
        const Error copy = platform::os_file_system().copy_range(source, kPosition, size, output, buffer, way);
        EXPECT_TRUE(copy.ok()) << size << ": " << copy.cause();
        EXPECT_TRUE(output.close().ok());
        EXPECT_TRUE(read_file(out) == bytes.substr(kPosition, size)) << size;
        // Through user memory only when the kernel refused.
        EXPECT_EQ(buffer.size(), append ? kCopyChunk : 0) << size;
      }
    }
    // Two chunks asked for: the source ends one byte short, one chunk
    // short, and right at the start.
    for (const std::uint64_t position : {kPieces + kPosition - 2 * kCopyChunk + 1, kPieces + kPosition - kCopyChunk,
                                         kPieces + kPosition}) {
      platform::FileHandle output = open_output(dir / "short", append);
      std::vector<char> buffer;
      const Error copy = platform::os_file_system().copy_range(source, position, 2 * kCopyChunk, output, buffer);
      EXPECT_EQ(copy.step(), Error::Step::read) << position;
      EXPECT_EQ(copy.finding(), Error::Finding::archive_ends_early) << position;
    }
  }
  EXPECT_EQ(open_files(), open_before);
}

}  // namespace
}  // namespace kelvarin::testing
