// The extraction: an archive's tree, or part of it, written under a
// destination folder. Both programs, the fuzzing harness and the tests
// extract through this one call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive_index.h"
#include "archive/tree_walk.h"
#include "extract/entry_selection.h"

namespace kelvarin {

struct ExtractOptions {
  std::string destination;  // as typed, UTF-8; made one level deep if missing
  // The entries to extract; everything when null.
  const Selection* selection = nullptr;
  // Leave whatever already holds a file's name untouched, instead of
  // replacing it.
  bool skip_existing = false;
};

// What the extraction tells as it goes.
class ExtractReporter {
 public:
  virtual ~ExtractReporter() = default;
  // A file is about to be written (it may still fail).
  virtual void file(const EntryVisit& file, std::int32_t size) = 0;
  // One whole line, "ERROR: ...\n": an entry refused or failed.
  virtual void error_line(std::string_view line) = 0;
  // A file left alone, as its name was held before the run (skip_existing).
  virtual void skipped(const EntryVisit& /*file*/, std::int32_t /*size*/) {}
};

struct ExtractSummary {
  std::uint64_t files_written = 0;
  std::uint64_t bytes_written = 0;
  std::uint64_t refused = 0;  // entries refused or passed over, with all they held
  std::uint64_t failed = 0;   // files and folders that could not be written
  std::uint64_t skipped = 0;  // files whose names were held (skip_existing)
  bool stopped = false;       // memory ran out and the walk stopped
  Error destination;          // why the destination can't be used; then nothing was done

  bool complete() const { return destination.ok() && refused == 0 && failed == 0 && !stopped; }
};

// Writes what `options` selects of `index` under the destination, reporting
// each file and each failure as it goes. Refused and failed entries don't
// stop it; only running out of memory does.
ExtractSummary extract(const ArchiveIndex& index, const ExtractOptions& options,
                       ExtractReporter& reporter);

}  // namespace kelvarin
