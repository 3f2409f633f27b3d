// Copying a file's bytes on Linux: in the kernel where it can (spliced
// through a pipe above one chunk, copy_file_range up to it), else through
// the one copy buffer; exact at every chunk boundary either way, and a
// source that ends early told apart from a failed write.
#include <gtest/gtest.h>

#include "platform/posix_test_helper.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

using platform::FileHandle;
using platform::kCopyChunk;

// How the output handle is opened: as the program does, or for appending,
// which the kernel refuses to copy into.
enum class Output { plain, append };

struct Source {
  TempDir dir;
  std::string bytes;
  FileHandle handle;

  explicit Source(std::size_t size) : bytes(pattern(size, 7)) {
    write_file(dir / "source", bytes);
    EXPECT_TRUE(platform::open_archive((dir / "source").string(), handle).ok());
  }
};

FileHandle open_output(const fs::path& path, Output kind) {
  FileHandle file;
  platform::Folder folder;
  EXPECT_TRUE(platform::open_folder(path.parent_path().string(), false, folder).ok());
  const std::string name = path.filename().string();
  Error opened = kind == Output::plain ? platform::create_file(folder, name, file)
                                       : platform::create_file_for_append(folder, name, file);
  EXPECT_TRUE(opened.ok()) << opened.cause();
  return file;
}

const std::vector<std::size_t> kSizes = {1, kCopyChunk - 1, kCopyChunk, kCopyChunk + 1,
                                         kCopyChunk * 5 / 2};
// Not a multiple of 16 or of a page: nothing may depend on alignment.
constexpr std::uint64_t kPosition = 12'345;

void expect_exact_copies(Output kind) {
  Source source(kPosition + kSizes.back() + 100);
  for (std::size_t size : kSizes) {
    const fs::path out = source.dir / ("out" + std::to_string(size));
    FileHandle output = open_output(out, kind);
    std::vector<char> buffer;
    Error copy = platform::copy_range(source.handle, kPosition, size, output, buffer);
    EXPECT_TRUE(copy.ok()) << size << ": " << copy.cause();
    EXPECT_TRUE(output.close().ok());
    EXPECT_TRUE(read_file(out) == source.bytes.substr(kPosition, size)) << size;
    if (kind == Output::plain) {
      EXPECT_TRUE(buffer.empty()) << size << ": the bytes went through user memory";
    } else {
      EXPECT_EQ(buffer.size(), kCopyChunk) << size << ": the buffered path was not taken";
    }
  }
}

TEST(KernelCopy, BytesAreExactAtEveryChunkBoundaryWithoutTheBuffer) {
  expect_exact_copies(Output::plain);
}

TEST(KernelCopy, RefusedCopyFallsBackToTheBufferWithExactBytes) {
  expect_exact_copies(Output::append);
}

TEST(KernelCopy, SourceEndingEarlyIsReportedOnBothPaths) {
  Source source(3 * kCopyChunk);
  for (Output kind : {Output::plain, Output::append}) {
    // Two chunks asked for: the source ends one byte short of them, one
    // chunk short, and right at the start.
    for (std::uint64_t position : {kCopyChunk + 1, 2 * kCopyChunk, 3 * kCopyChunk}) {
      FileHandle output = open_output(source.dir / "out", kind);
      std::vector<char> buffer;
      Error copy = platform::copy_range(source.handle, position, 2 * kCopyChunk, output, buffer);
      EXPECT_EQ(copy.step(), Error::Step::read) << position;
      EXPECT_EQ(copy.cause(), "the archive ends before its last byte") << position;
    }
  }
}

TEST(KernelCopy, OutputThatCannotBeWrittenIsAWriteFailure) {
  Source source(kCopyChunk + 10);
  // A handle open for reading only: the kernel refuses it, and so does write.
  FileHandle read_only;
  write_file(source.dir / "target", "");
  ASSERT_TRUE(platform::open_archive((source.dir / "target").string(), read_only).ok());
  std::vector<char> buffer;
  Error copy = platform::copy_range(source.handle, 0, kCopyChunk + 10, read_only, buffer);
  EXPECT_EQ(copy.step(), Error::Step::write);
  EXPECT_NE(copy.os_code(), 0);
}

}  // namespace
}  // namespace kelvarin::testing
