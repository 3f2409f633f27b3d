// Writing an archive file under a temporary name and naming it once
// complete, with the progress counting what is read.
#include "packing/archive_file.h"

#include <cstdint>
#include <vector>

#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin {
namespace {

// Writes go out in blocks of this size, not one call per name or padding.
constexpr std::size_t kWriteBlock = 1u << 20;

// The files, each counted on the progress as it is opened.
class CountedFiles final : public TreeFiles {
 public:
  CountedFiles(const ArchiveLayout& layout, TreeFiles& files, WriteProgress& progress)
      : layout_(layout), files_(files), progress_(progress) {}
  Error open(std::size_t file, platform::FileHandle& handle) override {
    progress_.file_started(layout_.tree->file_size(file));
    return files_.open(file, handle);
  }
  void read_ahead(std::size_t file) override { files_.read_ahead(file); }
  std::uint64_t start(std::size_t file) const override { return files_.start(file); }
  std::string path_of(std::size_t file) const override { return files_.path_of(file); }

 private:
  const ArchiveLayout& layout_;
  TreeFiles& files_;
  WriteProgress& progress_;
};

// Gathers the archive's bytes into blocks of kWriteBlock for `put`, so
// that names and padding don't cost a call each.
class BlockedOutput {
 public:
  explicit BlockedOutput(std::function<Error(const char*, std::size_t)> put) : put_(std::move(put)) {
    block_.reserve(kWriteBlock);
  }
  Error add(const char* bytes, std::size_t length) {
    if (block_.size() + length > kWriteBlock) {
      Error flushed = flush();
      if (!flushed.ok()) return flushed;
    }
    if (length >= kWriteBlock) {
      on_disk_ += length;
      return put_(bytes, length);
    }
    block_.insert(block_.end(), bytes, bytes + length);
    return {};
  }
  Error flush() {
    Error written = put_(block_.data(), block_.size());
    on_disk_ += block_.size();
    block_.clear();
    return written;
  }
  // Drops what was given from `position` on; false when some of it is no
  // longer held (already put).
  bool take_back(std::uint64_t position) {
    if (position < on_disk_) return false;
    block_.resize(static_cast<std::size_t>(position - on_disk_));
    return true;
  }
  void restart_at(std::uint64_t position) {
    block_.clear();
    on_disk_ = position;
  }

 private:
  std::function<Error(const char*, std::size_t)> put_;
  std::vector<char> block_;
  std::uint64_t on_disk_ = 0;  // where the block goes
};

}  // namespace

Error write_archive_file(const ArchiveLayout& layout, TreeFiles& source, const platform::Folder& folder,
                         const std::string& name, WriteProgress& progress,
                         const std::function<void()>& before_naming) {
  CountedFiles files(layout, source, progress);
  platform::NativeString final_name, temp_name;
  platform::native_name(name, final_name);
  const TemporaryName temp(name, false);
  temp_name.assign(temp.text().begin(), temp.text().end());
  platform::FileSystem& disk = platform::os_file_system();
  platform::NewFile file(disk);
  Error error = file.begin(folder, temp_name);
  BlockedOutput output([&](const char* bytes, std::size_t length) { return disk.write(file.handle(), bytes, length); });
  // A file read again is written again over its first reading.
  auto rewind = [&](std::uint64_t position) {
    if (output.take_back(position)) return Error{};
    output.restart_at(position);
    return disk.set_position(file.handle(), position);
  };
  if (error.ok()) {
    error = write_archive(
        layout,
        [&](const char* bytes, std::size_t length) {
          progress.advance(length);
          return output.add(bytes, length);
        },
        files, rewind);
  }
  if (error.ok()) error = output.flush();
  if (error.ok() && before_naming) before_naming();
  if (error.ok()) return file.finish(folder, temp_name, final_name);
  file.abandon(folder, temp_name);
  return error;
}

Error write_archive_file(const ArchiveLayout& layout, FileSource& files, const platform::Folder& folder,
                         const std::string& name, WriteProgress& progress,
                         const std::function<void()>& before_naming) {
  NodeFiles nodes(files);
  return write_archive_file(layout, nodes, folder, name, progress, before_naming);
}

Error write_archive_stream(const ArchiveLayout& layout, TreeFiles& source, std::FILE* stream, WriteProgress& progress) {
  CountedFiles files(layout, source, progress);
  BlockedOutput output(
      [&](const char* bytes, std::size_t length) { return platform::write_stream(stream, {bytes, length}); });
  Error error = write_archive(
      layout,
      [&](const char* bytes, std::size_t length) {
        progress.advance(length);
        return output.add(bytes, length);
      },
      files);
  if (error.ok()) error = output.flush();
  if (error.ok()) error = platform::flush_stream(stream);
  return error;
}

Error find_archive_place(const std::string& archive, ArchivePlace& place, std::string& problem) {
  Error error = platform::open_parent_folder(archive, place.folder, place.name);
  platform::NativeString native_name;
  platform::native_name(place.name, native_name);
  platform::Folder existing;
  if (error.ok() && (place.name.empty() || platform::open_subfolder(place.folder, native_name, existing).ok())) {
    problem = error_line(archive + " is a folder; name the archive to write");
    return Error::of_kind(Error::Kind::name_taken, "a folder holds its name");
  }
  if (error.ok()) error = platform::identify(place.folder.handle, place.identity);
  if (!error.ok()) {
    problem = error_line("Unable to write " + archive + ": " + cause_of(error));
    return error;
  }
  // The archive replaces a file of its name, and nothing else: not a
  // device, a pipe or a socket (a name the system may need), and not a
  // link, whose target the user should name instead.
  platform::FileIdentity there;
  if (platform::identify_in(place.folder, native_name, there).ok() && !there.is_regular) {
    problem = error_line(archive + (there.is_link ? " is a symbolic link; name the file it leads to"
                                                  : " is not a regular file (a device, a pipe or a "
                                                    "socket); brq pack replaces only a file") +
                         ", so nothing was written");
    return Error::of_kind(Error::Kind::name_taken, "something other than a file holds its name");
  }
  return {};
}

ProgressTotals progress_totals(const ArchiveLayout& layout) {
  ProgressTotals totals{layout.data.size(), 0};
  for (const PlacedData& placed : layout.data) totals.bytes += layout.tree->file_size(placed.file);
  return totals;
}

}  // namespace kelvarin
