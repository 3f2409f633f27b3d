// brq pack: a folder into an archive with the archive writer, leaving out
// what an archive can't hold and refusing names Windows can't, so that
// Kelvarin_Extract gives back exactly what was packed, and written the way
// extracted files are, so that a failed pack never leaves a partial
// archive under its name.
#include <algorithm>
#include <cstdint>

#include "archive/archive_writer.h"
#include "brq/commands.h"
#include "brq/progress_line.h"
#include "brq/text_output.h"
#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "packing/archive_file.h"
#include "packing/folder_source.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// What to pack from where, and where to: "DIR ARCHIVE" is DIR's whole
// tree, "-C DIR -o ARCHIVE PATH..." the PATHs below DIR.
struct PackRequest {
  std::string folder;
  std::vector<std::string> paths;
  std::string archive;
  bool to_stream;  // ARCHIVE "-": standard output
};

PackRequest request_of(const CommandLine& line) {
  if (!line.has_output) return {line.operands[0], {"."}, line.operands[1], line.operands[1] == "-"};
  return {line.directory.empty() ? "." : line.directory, line.operands, line.output, line.output == "-"};
}

}  // namespace

int pack_folder(const CommandLine& line, const Streams& streams) {
  const PackRequest request = request_of(line);
  const std::string& folder = request.folder;
  const std::string& archive = request.archive;
  // As tar does: an archive on the screen is of no use to anyone.
  if (request.to_stream && platform::is_terminal(streams.out)) {
    print(streams.err, "brq: refusing to write an archive to a terminal; redirect standard output\n"
                       "Try 'brq pack --help'.\n");
    return kStatusUsage;
  }
  Result<ChosenPaths> chosen = ChosenPaths::of(request.paths);
  if (!chosen.ok()) {
    print(streams.err, error_line("Nothing written: " + cause_of(chosen.error())));
    return kStatusUnusable;
  }
  platform::Folder root;
  Error error = platform::open_folder(folder, root);
  if (!error.ok()) {
    print(streams.err, error_line(folder + " is not a folder: " + cause_of(error)));
    return kStatusUnusable;
  }
  ArchivePlace place;
  if (!request.to_stream) {
    if (std::string problem; !find_archive_place(archive, place, problem).ok()) {
      print(streams.err, problem);
      return kStatusUnusable;
    }
  }

  FolderSource files(std::move(root), line.has_output && line.directory.empty() ? "." : folder);
  ScanReport report;
  const SelectionMatcher excludes({{}, line.excludes, false});
  const Error scanned = files.scan(
      {!line.allow_unportable, line.dereference, line.excludes.empty() ? nullptr : &excludes}, chosen.value(),
      report);
  if (!scanned.ok()) {
    print(streams.err, error_line("Unable to read " + folder + ": " + cause_of(scanned)));
    return kStatusUnusable;
  }
  // A PATH that is not there makes another archive than the one asked for.
  if (!report.missing.empty()) {
    for (const Error& missing : report.missing) {
      print(streams.err, error_line(missing.path() + ": " + cause_of(missing)));
    }
    print(streams.err, error_line("Nothing written: a path to pack is not there"));
    return kStatusUnusable;
  }
  // By what the folders are, not how they are spelt: a link or a bind
  // mount leads to the same folder under another name.
  if (!request.to_stream && files.holds_folder(place.identity)) {
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

  Result<ArchiveLayout> laid_out = lay_out(files);
  if (!laid_out.ok()) {
    print(streams.err, error_line("Unable to pack " + folder + ": " + cause_of(laid_out.error())));
    return kStatusUnusable;
  }
  const ArchiveLayout& layout = laid_out.value();
  ProgressLine progress(streams.err, progress_enabled(line.progress, platform::is_terminal(streams.err), false),
                        progress_totals(layout), line.progress == ProgressChoice::always);
  error = request.to_stream ? write_archive_stream(layout, files, streams.out, progress)
                            : write_archive_file(layout, static_cast<TreeFiles&>(files), place.folder, place.name,
                                                 progress);
  progress.finish();
  if (!error.ok()) {
    // A file that can't be read names itself; anything else is the archive's.
    if (request.to_stream && error.path().empty()) {
      if (!platform::reader_gone(error)) {
        print(streams.err, error_line("Unable to write to standard output: " + cause_of(error)));
      }
      return kStatusUnusable;
    }
    if (error.path().empty()) error.during(Error::Step::write).on(archive);
    print(streams.err, error_line(error.message()));
    return kStatusUnusable;
  }
  const std::size_t files_count = layout.data.size();
  const std::size_t left_out = report.left_out.size();
  // Standard output carries the archive itself.
  const Streams summary_streams{request.to_stream ? streams.err : streams.out, streams.err};
  TextOutput out(summary_streams);
  const std::size_t folders = layout.entries.size() - files_count;
  out.add("Packed " + std::to_string(layout.entries.size()) + " entries (" + std::to_string(files_count) +
          (files_count == 1 ? " file, " : " files, ") + std::to_string(folders) +
          (folders == 1 ? " folder), " : " folders), ") +
          std::to_string(layout.total_size) + " bytes" +
          (left_out == 0 ? std::string() : ", " + std::to_string(left_out) + " left out") + ": " + (request.to_stream ? std::string("standard output") : one_line(archive)) +
          "\n");
  return out.finish() && left_out == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
