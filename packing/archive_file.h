// An archive written to disk the way extracted files are: under a
// temporary name beside its own (unnamed until complete on Linux), and
// given its name in one step once every byte is there, so that a failed
// or killed run never leaves part of an archive under the name. brq pack
// and the C API write a new archive so, brq compact one in place of the
// old; brq pack writes one to standard output too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "archive/archive_writer.h"
#include "platform/files.h"

namespace kelvarin {

// What a run will write, as far as it is known beforehand; zero files when
// it isn't.
struct ProgressTotals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

// How much of a write is done: each file as it is opened, then the bytes
// as they go out. brq draws it as a line, the C API tells it the caller.
class WriteProgress {
 public:
  virtual ~WriteProgress() = default;
  virtual void file_started(std::uint64_t size) = 0;
  virtual void advance(std::uint64_t bytes) = 0;
};

// Writes `layout`, its files' bytes read through `files`, as `name` in
// `folder`, counting files and bytes on `progress`. `before_naming` runs
// once every byte is written, before the archive takes its name (Windows
// replaces no file that is held open). A failure of the archive's own is
// not named; one reading a file names the file.
Error write_archive_file(const ArchiveLayout& layout, TreeFiles& files, const platform::Folder& folder,
                         const std::string& name, WriteProgress& progress,
                         const std::function<void()>& before_naming = {});
// The same for a layout of SourceNodes.
Error write_archive_file(const ArchiveLayout& layout, FileSource& files, const platform::Folder& folder,
                         const std::string& name, WriteProgress& progress,
                         const std::function<void()>& before_naming = {});

// Writes `layout` to `stream` in one pass, counting on `progress`: a pipe
// can't be taken back, so a file that changes as it is read fails the
// write instead of being read again.
Error write_archive_stream(const ArchiveLayout& layout, TreeFiles& files, std::FILE* stream, WriteProgress& progress);

// Where a new archive goes: the folder to hold it and its name there.
struct ArchivePlace {
  platform::Folder folder;
  std::string name;
  platform::FileIdentity identity;  // of the folder
};

// Finds the place of the archive `archive` (as typed) is to be written
// as. Where it can't go there (a folder, a link or a device holds the
// name, or the folder can't be used), the failure, with the line saying
// why in `problem`.
Error find_archive_place(const std::string& archive, ArchivePlace& place, std::string& problem);

// What a layout's files add up to, for the progress.
ProgressTotals progress_totals(const ArchiveLayout& layout);

}  // namespace kelvarin
