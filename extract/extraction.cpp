// Carrying out the plan: the destination opened, then, in the walk's
// order, every folder made and entered through the folder that holds it
// and every file handed to the file writer. A folder the run makes is
// filled under a temporary name and named once everything in it is written.
#include <new>

#include "extract/extraction_run.h"
#include "names/entry_name.h"

namespace kelvarin {

ExtractSummary extract(const ArchiveIndex& index, const ExtractionPlan& plan, const ExtractOptions& options,
                       ExtractReporter& reporter) {
  return ExtractionRun(index, plan, options, reporter).run();
}

ExtractionRun::ExtractionRun(const ArchiveIndex& index, const ExtractionPlan& plan,
                             const ExtractOptions& options, ExtractReporter& reporter)
    : index_(index),
      plan_(plan),
      options_(options),
      reporter_(reporter),
      files_(options.file_system != nullptr ? *options.file_system : platform::os_file_system()) {}

ExtractSummary ExtractionRun::run() {
  OutputFolder destination;
  summary_.destination = files_.open_destination(options_.destination, options_.make_parents, destination.folder);
  if (!summary_.destination.ok()) {
    summary_.destination.on(options_.destination);
    reporter_.destination_failed(summary_.destination);
    return summary_;
  }
  folders_.push_back(std::move(destination));
  try {
    if (options_.skip_existing) left_alone_.resize(index_.entry_count());
    plan_.replay(index_, *this);
  } catch (const std::bad_alloc&) {
    summary_.stopped = true;
    // What is written in a folder being filled is whole: it still gets its
    // name. Then the report is made without taking memory: there may be
    // none left to take.
    while (folders_.size() > 1) {
      OutputFolder left = std::move(folders_.back());
      folders_.pop_back();
      if (left.staged) files_.name_folder(current_folder().folder, left.folder, left.temp_name, left.final_name);
    }
    reporter_.out_of_memory();
  }
  return summary_;
}

bool ExtractionRun::enter_folder(const EntryVisit& folder, const PlannedEntry& planned) {
  OutputFolder entered;
  entered.fresh = current_folder().fresh;
  entered.alias = planned.fate == Fate::folded;
  const Error error = entered.alias ? Error{} : make_output_folder(folder, entered);
  if (!error.ok()) {
    // Nothing is tried inside a folder that failed: it may be a link
    // leading out of the destination.
    const std::uint64_t inside = index_.count_inside(folder.entry);
    ++summary_.failed;
    summary_.refused += inside;
    reporter_.folder_failed(folder, error, inside);
    return false;
  }
  folders_.push_back(std::move(entered));
  return true;
}

Error ExtractionRun::make_output_folder(const EntryVisit& folder, OutputFolder& made) {
  const OutputFolder& parent = current_folder();
  platform::native_name(folder.name, name_);
  // Filled under a temporary name where this run makes it and it holds
  // anything; everything below a fresh folder is fresh already.
  if (!parent.fresh && index_.node(folder.entry).child != kNoNode && files_.name_is_free(parent.folder, name_)) {
    const TemporaryName temp(folder.name, true);
    made.temp_name.assign(temp.text().begin(), temp.text().end());
    if (files_.make_fresh_folder(parent.folder, made.temp_name, made.folder).ok()) {
      made.fresh = made.staged = true;
      made.final_name = name_;
      return {};
    }
  }
  return files_.make_folder(parent.folder, name_, made.folder);
}

void ExtractionRun::leave_folder(const EntryVisit& folder, const PlannedEntry&) {
  OutputFolder left = std::move(folders_.back());
  folders_.pop_back();
  if (!left.staged) return;
  const Error named = files_.name_folder(current_folder().folder, left.folder, left.temp_name, left.final_name);
  if (!named.ok()) {
    ++summary_.failed;
    reporter_.folder_not_named(folder, named, TemporaryName(folder.name, true).text());
  }
}

void ExtractionRun::visit(const EntryVisit& entry, const PlannedEntry& planned) {
  if (planned.written()) {
    extract_file(entry, planned);
    return;
  }
  summary_.refused += 1 + std::uint64_t{planned.inside()};
  reporter_.left_out(entry, planned);
}

ExtractionRun::OutputFolder& ExtractionRun::current_folder() {
  std::size_t level = folders_.size() - 1;
  while (folders_[level].alias) --level;
  return folders_[level];
}

}  // namespace kelvarin
