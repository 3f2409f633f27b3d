// Writing an archive file under a temporary name and naming it once
// complete, with the progress line counting what is read.
#include "brq/archive_file.h"

#include <cstdint>
#include <vector>

#include "names/entry_name.h"
#include "platform/file_system.h"

namespace kelvarin::brq {
namespace {

// Writes go out in blocks of this size, not one call per name or padding.
constexpr std::size_t kWriteBlock = 1u << 20;

// The files, each counted on the progress line as it is opened.
class CountedSource final : public FileSource {
 public:
  CountedSource(FileSource& files, ProgressLine& progress) : files_(files), progress_(progress) {}
  Error open(const SourceNode& node, platform::FileHandle& file) override {
    progress_.file_started(node.size);
    return files_.open(node, file);
  }
  void read_ahead(const SourceNode& node) override { files_.read_ahead(node); }
  std::uint64_t start(const SourceNode& node) const override { return files_.start(node); }
  std::string path_of(const SourceNode& node) const override { return files_.path_of(node); }

 private:
  FileSource& files_;
  ProgressLine& progress_;
};

}  // namespace

Error write_archive_file(const ArchiveLayout& layout, FileSource& source, const platform::Folder& folder,
                         const std::string& name, ProgressLine& progress,
                         const std::function<void()>& before_naming) {
  CountedSource files(source, progress);
  platform::NativeString final_name, temp_name;
  platform::native_name(name, final_name);
  const TemporaryName temp(name, false);
  temp_name.assign(temp.text().begin(), temp.text().end());
  platform::FileSystem& disk = platform::os_file_system();
  platform::NewFile file(disk);
  Error error = file.begin(folder, temp_name);
  std::vector<char> block;
  block.reserve(kWriteBlock);
  std::uint64_t on_disk = 0;  // where the block goes
  auto flush = [&] {
    Error written = disk.write(file.handle(), block.data(), block.size());
    on_disk += block.size();
    block.clear();
    return written;
  };
  // A file read again is written again over its first reading.
  auto rewind = [&](std::uint64_t position) {
    if (position >= on_disk) {
      block.resize(static_cast<std::size_t>(position - on_disk));
      return Error{};
    }
    block.clear();
    on_disk = position;
    return disk.set_position(file.handle(), position);
  };
  if (error.ok()) {
    error = write_archive(
        layout,
        [&](const char* bytes, std::size_t length) {
          progress.advance(length);
          if (block.size() + length > kWriteBlock) {
            Error flushed = flush();
            if (!flushed.ok()) return flushed;
          }
          if (length >= kWriteBlock) {
            on_disk += length;
            return disk.write(file.handle(), bytes, length);
          }
          block.insert(block.end(), bytes, bytes + length);
          return Error{};
        },
        &files, rewind);
  }
  if (error.ok()) error = flush();
  if (error.ok() && before_naming) before_naming();
  if (error.ok()) return file.finish(folder, temp_name, final_name);
  file.abandon(folder, temp_name);
  return error;
}

ProgressTotals progress_totals(const ArchiveLayout& layout) {
  ProgressTotals totals{layout.data.size(), 0};
  for (const PlacedData& placed : layout.data) {
    totals.bytes += placed.source->disk_file == kInMemory ? placed.source->bytes.size() : placed.source->size;
  }
  return totals;
}

}  // namespace kelvarin::brq
