// brq extract: Kelvarin_Extract's walk and file writer, with brq's own
// lines, an optional choice of entries and a progress line.
#include "archive/index_loader.h"
#include "brq/archive_session.h"
#include "brq/commands.h"
#include "brq/progress_line.h"
#include "brq/utf8_text.h"
#include "extract/entry_selection.h"
#include "extract/report.h"
#include "extract/walk.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

// A file's path as `brq list` shows it, from the walk's relative path
// ("\maps\", backslash after each folder name, the empty root's included).
// Backslashes can only be separators there: names holding one are refused.
std::string listed_path(std::string_view dir_path, std::string_view name) {
  std::string path;
  std::size_t start = 0;
  while (start < dir_path.size()) {
    std::size_t end = dir_path.find('\\', start);
    if (end == std::string_view::npos) end = dir_path.size();
    if (end > start) {
      if (!path.empty()) path += '/';
      path.append(dir_path.substr(start, end - start));
    }
    start = end + 1;
  }
  if (!name.empty()) {
    if (!path.empty()) path += '/';
    path.append(name);
  }
  return path;
}

}  // namespace

int extract_archive(const std::string& archive, const std::string& dest,
                    const std::vector<std::string>& paths, bool quiet, const Streams& streams) {
  ExtractState state;
  std::string error;
  if (open_archive_index(state, archive, error) != Opened::loaded) {
    print_error(streams.err, error);
    return kStatusUnusable;
  }
  state.out = streams.out;
  state.dest_folder = dest;

  // The file lines scroll by on their own when they reach the terminal.
  ProgressLine progress(streams.err, platform::is_terminal(streams.err) &&
                                         (quiet || !platform::is_terminal(streams.out)));
  state.on_error = [&](std::string_view line) {
    progress.clear();
    print(streams.err, line);
  };
  state.on_file = [&](std::string_view dir_path, std::string_view name, std::int32_t size) {
    progress.file_started(size > 0 ? static_cast<std::uint64_t>(size) : 0);
    if (!quiet) print(streams.out, one_line(listed_path(dir_path, name)) + "\n");
  };

  if (!paths.empty()) {
    for (const std::string& missing : select_entries(state, paths)) {
      report_error(state, "No entry named " + missing + " in " + archive);
    }
    // Nothing to write: the destination isn't even created.
    if (!anything_selected(state)) return kStatusEntriesFailed;
  }

  state.dest_folder_native = platform::destination_base(state.dest_folder);
  // As with Kelvarin_Extract: the destination may be new, its parent must
  // exist, and the walk reports what it can't create.
  platform::make_folder(state.dest_folder_native, true);
  walk_node(state, 0);
  progress.finish();
  state.archive.close();
  return state.had_failure ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
