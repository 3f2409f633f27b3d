// brq cat: files' bytes to standard output, nothing else on it, in the
// order they are asked for.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "brq/commands.h"
#include "brq/progress_line.h"
#include "extract/report.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

// Copies `length` bytes at `position` in the archive to `out`. False, with
// the cause, when the archive ends too soon or `out` fails.
bool copy_out(const ArchiveIndex& index, std::uint64_t position, std::uint64_t length,
              std::FILE* out, std::vector<char>& buffer, ProgressLine& progress,
              std::string& failure, bool& output_failed) {
  buffer.resize(platform::kCopyChunk);
  while (length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    std::size_t got = 0;
    const Error read = platform::read_at(index.archive(), position, buffer.data(), want, got);
    if (!read.ok() || got == 0) {
      failure = read.ok() ? "the archive ends before its last byte" : read.cause();
      return false;
    }
    if (std::fwrite(buffer.data(), 1, got, out) != got) {
      failure = std::strerror(errno);
      output_failed = true;
      return false;
    }
    position += got;
    length -= got;
    progress.advance(got);
  }
  return true;
}

}  // namespace

int cat_files(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> opened = open_index(archive, streams);
  if (!opened.ok()) return kStatusUnusable;
  const ArchiveIndex& index = opened.value();
  const SelectionRequest request = selection_request(line, 1);
  const Selection selection = select_entries(index, request);

  ProgressTotals totals;
  for (const std::vector<std::uint32_t>& named : selection.named) {
    for (std::uint32_t entry : named) {
      const EntryNode& node = index.node(entry);
      if (node.kind == NODE_FILE && node.file_size > 0) {
        ++totals.files;
        totals.bytes += static_cast<std::uint64_t>(node.file_size);
      }
    }
  }
  // The bytes themselves on a terminal would scramble with the line.
  ProgressLine progress(streams.err,
                        progress_enabled(line.progress, platform::is_terminal(streams.err),
                                         platform::is_terminal(streams.out)),
                        totals, line.progress == ProgressChoice::always);
  auto fail = [&](const std::string& message) {
    progress.clear();
    print(streams.err, error_line(message));
  };

  bool failed = false;
  std::vector<char> buffer;
  for (std::size_t i = 0; i < request.paths.size(); ++i) {
    const std::string& path = request.paths[i];
    if (selection.named[i].empty()) {
      fail(nothing_named(path, archive));
      failed = true;
      continue;
    }
    bool any_file = false;
    for (std::uint32_t entry : selection.named[i]) {
      const EntryNode& node = index.node(entry);
      // A pattern may name folders on the way to its files: they hold no
      // bytes of their own.
      if (node.kind != NODE_FILE) continue;
      any_file = true;
      const std::string problem = index.describe_problem(entry);
      if (!problem.empty()) {
        fail("Damaged entry " + std::to_string(entry) + " for " + path + ": " + problem);
        failed = true;
        continue;
      }
      const auto length = static_cast<std::uint64_t>(node.file_size);
      progress.file_started(length);
      std::string failure;
      bool output_failed = false;
      if (!copy_out(index, *index.data_position(entry), length, streams.out, buffer, progress,
                    failure, output_failed)) {
        if (output_failed) {
          fail("Unable to write to standard output: " + failure);
          progress.finish();
          return kStatusEntriesFailed;
        }
        fail("Unable to read the data of entry " + std::to_string(entry) + " for " + path + ": " +
             failure);
        failed = true;
      }
    }
    if (!any_file) {
      fail(path + " in " + archive + " is a folder, not a file");
      failed = true;
    }
  }
  if (std::fflush(streams.out) != 0) {
    fail(std::string("Unable to write to standard output: ") + std::strerror(errno));
    failed = true;
  }
  progress.finish();
  return failed ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
