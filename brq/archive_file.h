// An archive written to disk the way extracted files are: under a
// temporary name beside its own (unnamed until complete on Linux), and
// given its name in one step once every byte is there, so that a failed
// or killed run never leaves part of an archive under the name. brq pack
// writes a new archive so, brq compact one in place of the old; brq pack
// writes one to standard output too.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "archive/archive_writer.h"
#include "brq/progress_line.h"
#include "platform/files.h"

namespace kelvarin::brq {

// Writes `layout`, its files' bytes read through `files`, as `name` in
// `folder`, counting files and bytes on `progress`. `before_naming` runs
// once every byte is written, before the archive takes its name (Windows
// replaces no file that is held open). A failure of the archive's own is
// not named; one reading a file names the file.
Error write_archive_file(const ArchiveLayout& layout, TreeFiles& files, const platform::Folder& folder,
                         const std::string& name, ProgressLine& progress,
                         const std::function<void()>& before_naming = {});
// The same for a layout of SourceNodes.
Error write_archive_file(const ArchiveLayout& layout, FileSource& files, const platform::Folder& folder,
                         const std::string& name, ProgressLine& progress,
                         const std::function<void()>& before_naming = {});

// Writes `layout` to `stream` in one pass, counting on `progress`: a pipe
// can't be taken back, so a file that changes as it is read fails the
// write instead of being read again.
Error write_archive_stream(const ArchiveLayout& layout, TreeFiles& files, std::FILE* stream, ProgressLine& progress);

// What a layout's files add up to, for the progress line.
ProgressTotals progress_totals(const ArchiveLayout& layout);

}  // namespace kelvarin::brq
