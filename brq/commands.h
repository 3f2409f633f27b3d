// The commands of brq, each given its parsed operands and the two
// streams: results on `out`, errors and progress on `err`.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "brq/command_line.h"
#include "extract/entry_selection.h"
#include "extract/report.h"
#include "platform/error.h"

namespace kelvarin::brq {

inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusUnusable = 1;       // archive unusable, or can't be written
inline constexpr int kStatusEntriesFailed = 2;  // some entries failed or can't be stored
inline constexpr int kStatusUsage = 64;         // wrong command line (EX_USAGE)

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

inline void print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Why the index of `archive` could not be had, as an error line says it.
inline std::string why_unusable(const Error& error, const std::string& archive) {
  if (error.step() != Error::Step::open) return error.cause();
  return "Unable to open file: " + archive + ": " + error.cause();
}

// The entries the operands from `first` on and the options choose.
inline SelectionRequest selection_request(const CommandLine& line, std::size_t first) {
  return {std::vector<std::string>(line.operands.begin() + static_cast<std::ptrdiff_t>(first),
                                   line.operands.end()),
          line.excludes, line.ignore_case};
}

// The index of `archive`; when it can't be had, the line saying why is
// printed on `err` first.
inline Result<ArchiveIndex> open_index(const std::string& archive, const Streams& streams) {
  Result<ArchiveIndex> opened = ArchiveIndex::open(archive);
  if (!opened.ok()) print(streams.err, error_line(why_unusable(opened.error(), archive)));
  return opened;
}

// "No entry named maps/a.map in a.brq", "No entry matches *.wav in a.brq".
inline std::string nothing_named(const std::string& path, const std::string& archive) {
  return (has_wildcards(path) ? "No entry matches " : "No entry named ") + path + " in " + archive;
}

int list_archive(const CommandLine& line, const Streams& streams);
int check_archive(const std::string& archive, const Streams& streams);
int extract_archive(const CommandLine& line, const Streams& streams);
int cat_files(const CommandLine& line, const Streams& streams);
int diff_archives(const CommandLine& line, const Streams& streams);
int pack_folder(const CommandLine& line, const Streams& streams);
int mount_archive(const std::string& archive, const std::string& mountpoint, bool foreground,
                  const Streams& streams);

}  // namespace kelvarin::brq
