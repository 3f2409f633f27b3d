// The commands of brq, each given its parsed operands and the two
// streams: results on `out`, errors and progress on `err`.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"
#include "brq/command_line.h"
#include "extract/extraction_plan.h"
#include "messages/entry_messages.h"
#include "names/entry_pattern.h"
#include "names/entry_selection.h"
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

// The entries the operands from `first` on and the options choose.
inline SelectionRequest selection_request(const CommandLine& line, std::size_t first) {
  return {std::vector<std::string>(line.operands.begin() + static_cast<std::ptrdiff_t>(first),
                                   line.operands.end()),
          line.excludes, line.ignore_case};
}

// The index of `archive`; when it can't be had, the line saying why is
// printed on `err` first.
inline OpenedIndex open_index(const std::string& archive, const Streams& streams) {
  OpenedIndex opened = ArchiveIndex::open(archive);
  if (!opened.ok()) print(streams.err, error_line(archive_problem(opened)));
  return opened;
}

// The plan of what `request` chooses of `index` (all of it when null),
// names taken under `rule`; when memory runs out, the line saying so is
// printed on `err` first.
inline Result<ExtractionPlan> make_plan(const ArchiveIndex& index, const SelectionRequest* request, CaseRule rule,
                                        const Streams& streams) {
  Result<ExtractionPlan> plan = ExtractionPlan::make(index, request, rule);
  if (!plan.ok()) print(streams.err, error_line("Unable to allocate memory to plan " + index.path()));
  return plan;
}

int list_archive(const CommandLine& line, const Streams& streams);
int check_archive(const CommandLine& line, const Streams& streams);
int extract_archive(const CommandLine& line, const Streams& streams);
int cat_files(const CommandLine& line, const Streams& streams);
int diff_archives(const CommandLine& line, const Streams& streams);
int pack_folder(const CommandLine& line, const Streams& streams);
// add, rm, mv and sync.
int edit_archive(const CommandLine& line, const Streams& streams);
int compact_archive(const CommandLine& line, const Streams& streams);
int mount_archive(const std::string& archive, const std::string& mountpoint, bool foreground,
                  const Streams& streams);

}  // namespace kelvarin::brq
