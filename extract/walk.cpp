// The extraction's walk: the destination opened, then, in the traversal's
// order, every folder made and entered through the folder that holds it
// and every file handed to extract_entry. A folder the run makes is filled
// under a temporary name and named once everything in it is written.
#include <new>

#include "extract/entry_name.h"
#include "extract/extract_state.h"
#include "extract/report.h"

namespace kelvarin {

ExtractSummary extract(const ArchiveIndex& index, const ExtractOptions& options,
                       ExtractReporter& reporter) {
  return ExtractState(index, options, reporter).run();
}

ExtractSummary ExtractState::run() {
  OutputFolder destination;
  summary_.destination = platform::open_folder(options_.destination, true, destination.folder);
  if (!summary_.destination.ok()) {
    reporter_.error_line(error_line("Unable to use " + options_.destination +
                                    " as the destination folder: " + summary_.destination.cause()));
    return summary_;
  }
  folders_.push_back(std::move(destination));
  try {
    walk_node(index_, *this);
  } catch (const std::bad_alloc&) {
    summary_.stopped = true;
    // What is written in a folder being filled is whole: it still gets its
    // name. Then the line is written without taking memory: there may be
    // none left to take.
    while (folders_.size() > 1) {
      OutputFolder left = std::move(folders_.back());
      folders_.pop_back();
      if (left.staged) {
        platform::name_folder(current_folder().folder, left.folder, left.temp_name, left.final_name);
      }
    }
    reporter_.error_line("ERROR: Unable to allocate memory!\n");
  }
  return summary_;
}

bool ExtractState::enter_folder(const EntryVisit& folder) {
  if (!selected(folder) || refused(folder)) return false;
  OutputFolder entered;
  entered.fresh = current_folder().fresh;
  entered.alias = folds_into_parent(folder);
  const Error error = entered.alias ? Error{} : make_output_folder(folder, entered);
  if (!error.ok()) {
    // Nothing is tried inside a folder that failed: it may be a link
    // leading out of the destination.
    const std::uint64_t inside = index_.count_inside(folder.entry);
    ++summary_.failed;
    summary_.refused += inside;
    report(shown_path(folder) + "\\ doesn't exist! (" + error.cause() + inside_count(inside) + ")");
    return false;
  }
  folders_.push_back(std::move(entered));
  return true;
}

Error ExtractState::make_output_folder(const EntryVisit& folder, OutputFolder& made) {
  const OutputFolder& parent = current_folder();
  platform::native_name(folder.name, name_);
  // Filled under a temporary name where this run makes it and it holds
  // anything; everything below a fresh folder is fresh already.
  if (!parent.fresh && index_.node(folder.entry).child != kNoNode &&
      platform::name_is_free(parent.folder, name_)) {
    const TemporaryName temp(folder.name, true);
    made.temp_name.assign(temp.text().begin(), temp.text().end());
    if (platform::make_fresh_folder(parent.folder, made.temp_name, made.folder).ok()) {
      made.fresh = made.staged = true;
      made.final_name = name_;
      return {};
    }
  }
  return platform::make_folder(parent.folder, name_, made.folder);
}

void ExtractState::leave_folder(const EntryVisit& folder) {
  OutputFolder left = std::move(folders_.back());
  folders_.pop_back();
  if (!left.staged) return;
  const Error named =
      platform::name_folder(current_folder().folder, left.folder, left.temp_name, left.final_name);
  if (!named.ok()) {
    ++summary_.failed;
    report("Unable to put folder " + shown_path(folder) + "\\ in place: " + named.cause() +
           "; what was written in it is in " +
           std::string(TemporaryName(folder.name, true).text()) + " beside it");
  }
}

void ExtractState::visit_file(const EntryVisit& file) {
  if (selected(file) && !refused(file)) extract_entry(file);
}

void ExtractState::visit_unnamed(const EntryVisit& entry) {
  if (selected(entry)) refused(entry);
}

bool ExtractState::selected(const EntryVisit& visit) const {
  return options_.selection == nullptr || options_.selection->marks[visit.entry] != 0;
}

bool ExtractState::refused(const EntryVisit& visit) {
  const Error why = check_entry(index_, visit);
  if (why.ok()) return false;
  const std::uint64_t inside = visit.is_folder ? index_.count_inside(visit.entry) : 0;
  summary_.refused += 1 + inside;
  report(skipped_entry_message(visit, why.cause(), inside));
  return true;
}

ExtractState::OutputFolder& ExtractState::current_folder() {
  std::size_t level = folders_.size() - 1;
  while (folders_[level].alias) --level;
  return folders_[level];
}

void ExtractState::report(const std::string& message) { reporter_.error_line(error_line(message)); }

std::string ExtractState::shown_path(const EntryVisit& visit) const {
  // A path that begins with a name (a named root, the root's siblings, a
  // root that is a file) gets a separator after the destination, unless it
  // ends with one already.
  const bool starts_with_name =
      visit.depth == 0 ? !visit.name.empty() : visit.folder_path.front() != '/';
  std::string shown = options_.destination;
  if (starts_with_name && !platform::ends_with_separator(shown)) shown += '\\';
  append_printed_path(shown, visit);
  return shown;
}

}  // namespace kelvarin
