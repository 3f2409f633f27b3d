// brq pack: a folder into an archive with the archive writer, leaving out
// what an archive can't hold and refusing names Windows can't, so that
// Kelvarin_Extract gives back exactly what was packed, and written the way
// extracted files are, so that a failed pack never leaves a partial
// archive under its name.
#include <algorithm>
#include <cstdint>

#include "archive/archive_writer.h"
#include "brq/archive_file.h"
#include "brq/commands.h"
#include "brq/folder_source.h"
#include "brq/progress_line.h"
#include "brq/text_output.h"
#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin::brq {

int pack_folder(const CommandLine& line, const Streams& streams) {
  const std::string& folder = line.operands[0];
  const std::string& archive = line.operands[1];
  platform::Folder root;
  Error error = platform::open_folder(folder, root);
  if (!error.ok()) {
    print(streams.err, error_line(folder + " is not a folder: " + cause_of(error)));
    return kStatusUnusable;
  }
  platform::Folder archive_folder;
  std::string archive_name;
  error = platform::open_parent_folder(archive, archive_folder, archive_name);
  platform::NativeString native_name;
  platform::native_name(archive_name, native_name);
  platform::Folder existing;
  if (error.ok() && (archive_name.empty() ||
                     platform::open_subfolder(archive_folder, native_name, existing).ok())) {
    print(streams.err, error_line(archive + " is a folder; name the archive to write"));
    return kStatusUnusable;
  }
  platform::FileIdentity archive_folder_identity;
  if (error.ok()) error = platform::identify(archive_folder.handle, archive_folder_identity);
  if (!error.ok()) {
    print(streams.err, error_line("Unable to write " + archive + ": " + cause_of(error)));
    return kStatusUnusable;
  }
  // The archive replaces a file of its name, and nothing else: not a
  // device, a pipe or a socket (a name the system may need), and not a
  // link, whose target the user should name instead.
  platform::FileIdentity there;
  if (platform::identify_in(archive_folder, native_name, there).ok() && !there.is_regular) {
    print(streams.err, error_line(archive + (there.is_link ? " is a symbolic link; name the file it leads to"
                                                           : " is not a regular file (a device, a pipe or a "
                                                             "socket); brq pack replaces only a file") +
                                  ", so nothing was written"));
    return kStatusUnusable;
  }

  FolderSource files(std::move(root), folder);
  ScanReport report;
  Result<SourceNode> scanned = files.scan({!line.allow_unportable, line.dereference}, report);
  if (!scanned.ok()) {
    print(streams.err, error_line("Unable to read " + folder + ": " + cause_of(scanned.error())));
    return kStatusUnusable;
  }
  std::vector<SourceNode> top_level;
  top_level.push_back(std::move(scanned.value()));
  // By what the folders are, not how they are spelt: a link or a bind
  // mount leads to the same folder under another name.
  if (files.holds_folder(archive_folder_identity)) {
    print(streams.err, error_line(archive + " lies inside " + folder +
                                  ", so it would be packed into its next version; write it elsewhere"));
    return kStatusUnusable;
  }
  // What an archive can't hold is left out, and the rest packed, as tar
  // does; names Windows can't hold would give the game another tree, so
  // they stop the whole pack, every problem named at once.
  std::vector<Error> problems = report.left_out;
  problems.insert(problems.end(), report.unportable.begin(), report.unportable.end());
  std::sort(problems.begin(), problems.end(), [](const Error& a, const Error& b) {
    return std::make_pair(a.path(), cause_of(a)) < std::make_pair(b.path(), cause_of(b));
  });
  for (const Error& problem : problems) print(streams.err, error_line(problem.path() + ": " + cause_of(problem)));
  if (!report.unportable.empty()) {
    const std::size_t count = report.unportable.size();
    print(streams.err, error_line("Nothing written: " + std::to_string(count) + (count == 1 ? " entry" : " entries") +
                                  " would not come back as they are on Windows"));
    return kStatusEntriesFailed;
  }

  Result<ArchiveLayout> laid_out = lay_out(top_level);
  if (!laid_out.ok()) {
    print(streams.err, error_line("Unable to pack " + folder + ": " + cause_of(laid_out.error())));
    return kStatusUnusable;
  }
  const ArchiveLayout& layout = laid_out.value();
  ProgressLine progress(streams.err, progress_enabled(line.progress, platform::is_terminal(streams.err), false),
                        progress_totals(layout), line.progress == ProgressChoice::always);
  error = write_archive_file(layout, files, archive_folder, archive_name, progress);
  progress.finish();
  if (!error.ok()) {
    // A file that can't be read names itself; anything else is the archive's.
    if (error.path().empty()) error.during(Error::Step::write).on(archive);
    print(streams.err, error_line(error.message()));
    return kStatusUnusable;
  }
  const std::size_t files_count = layout.data.size();
  const std::size_t left_out = report.left_out.size();
  TextOutput out(streams);
  const std::size_t folders = layout.entries.size() - files_count;
  out.add("Packed " + std::to_string(layout.entries.size()) + " entries (" + std::to_string(files_count) +
          (files_count == 1 ? " file, " : " files, ") + std::to_string(folders) +
          (folders == 1 ? " folder), " : " folders), ") +
          std::to_string(layout.total_size) + " bytes" +
          (left_out == 0 ? std::string() : ", " + std::to_string(left_out) + " left out") + ": " + one_line(archive) +
          "\n");
  return out.finish() && left_out == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
