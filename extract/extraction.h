// The extraction: a plan carried out under a destination folder. Both
// programs, the fuzzing harness and the tests extract through this one
// call; what happens is told as facts to a reporter, which each front end
// puts into its own words.
#pragma once

#include <algorithm>

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive_index.h"
#include "archive/tree_walk.h"
#include "extract/extraction_plan.h"
#include "extract/ordered_pool.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kelvarin {

struct ExtractOptions {
  std::string destination;  // as typed, UTF-8; made one level deep if missing
  bool make_parents = false;  // make the destination's missing parents too, as mkdir -p
  // Leave whatever already holds a file's name untouched, instead of
  // replacing it.
  bool skip_existing = false;
  // Where the output goes; the disk itself when null.
  platform::FileSystem* file_system = nullptr;
  // How many workers write files at once: 1 writes each file in the walk
  // itself; 0 takes default_jobs(). Any number gives the same lines,
  // statuses and tree.
  unsigned jobs = 0;
  // How workers are started: std::thread unless a test says otherwise.
  OrderedPool::StartThread start_thread = {};
};

// Workers when none are asked for: one per processor online, at most 8
// (past that the disk, not the processors, sets the pace).
inline unsigned default_jobs() { return std::min(platform::processor_count(), 8u); }

// What the extraction tells as it goes, in the walk's order.
class ExtractReporter {
 public:
  virtual ~ExtractReporter() = default;
  // A file is about to be written (it may still fail).
  virtual void file(const EntryVisit& file, std::int32_t size) = 0;
  // An entry the plan leaves out, with the planned.inside() entries it holds.
  virtual void left_out(const EntryVisit& entry, const PlannedEntry& planned) = 0;
  // A folder that could not be made or entered; nothing inside it, the
  // `inside` entries, is tried.
  virtual void folder_failed(const EntryVisit& folder, const Error& error, std::uint64_t inside) = 0;
  // A folder filled under `temporary_name` beside where it belongs that
  // could not be given its name: what was written is there.
  virtual void folder_not_named(const EntryVisit& folder, const Error& error,
                                std::string_view temporary_name) = 0;
  // A file that failed; error.step() tells where (create, read, write).
  // `left` is a failure to remove what was written, which then stays.
  virtual void file_failed(const EntryVisit& file, const Error& error, const Error& left) = 0;
  // The destination can't be used; nothing was done.
  virtual void destination_failed(const Error& error) = 0;
  // Memory ran out, and the run stopped.
  virtual void out_of_memory() = 0;
  // The system started fewer workers than asked: `started` of `asked`
  // write the files, the walk among them (at worst the walk alone).
  virtual void fewer_workers(unsigned /*asked*/, unsigned /*started*/) {}
  // A file left alone, as its name was held before the run (skip_existing).
  virtual void skipped(const EntryVisit& /*file*/, std::int32_t /*size*/) {}
  // Asked before each entry the walk comes to: true once the caller wants
  // the run to end. What is in flight is finished and told of; nothing
  // more is begun.
  virtual bool wants_stop() const { return false; }
};

struct ExtractSummary {
  std::uint64_t files_written = 0;
  std::uint64_t bytes_written = 0;
  std::uint64_t refused = 0;  // entries left out, with all they held
  std::uint64_t failed = 0;   // files and folders that could not be written
  std::uint64_t skipped = 0;  // files whose names were held (skip_existing)
  bool stopped = false;       // memory ran out and the walk stopped
  Error destination;          // why the destination can't be used; then nothing was done

  bool complete() const { return destination.ok() && refused == 0 && failed == 0 && !stopped; }
  // Stopped before any entry was told of: nothing was written.
  bool stopped_at_once() const { return stopped && files_written + refused + failed + skipped == 0; }
};

// The destination folder, opened before the plan is made, since how its
// folders take names is part of the plan.
struct Destination {
  platform::Folder folder;
  CaseRule case_rule = CaseRule::folding();
  Error error;  // why it can't be used: then nothing was made

  bool ok() const { return error.ok(); }
};

// Opens the destination of `options` (made where missing) and asks it
// whether names that differ only in case are one name there; where that
// can't be told, they are taken for one.
Destination open_destination(const ExtractOptions& options);

// Carries out `plan` (of `index`, made under the destination's case rule)
// in `destination`, reporting each file and each failure as it goes; a
// destination that can't be used is reported, and nothing is done.
// Entries left out and failures don't stop it; only running out of memory
// does.
ExtractSummary extract(const ArchiveIndex& index, const ExtractionPlan& plan, Destination destination,
                       const ExtractOptions& options, ExtractReporter& reporter);

}  // namespace kelvarin
