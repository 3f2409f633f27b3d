// Carrying out the plan in the opened destination: in the walk's order,
// every folder made and entered through the folder that holds it and
// every file handed on to be written. A folder the run makes is filled
// under a temporary name and named once everything in it is written; what
// the writers did is told in the walk's order.
//
// The walk's words, here and in extraction_run.h:
// - handed on: given a slot (and, for a file, a job of the pool), in the
//   walk's order; the slot is the pool's job of the same number.
// - told of: a slot's outcome given to the reporter, oldest first, once
//   its job is done; then its slot is free again.
// - fresh: a folder made by this run, not yet under its name, and all
//   below it; nobody else sees what is in it.
// - staged: a fresh folder filled under a temporary name beside where it
//   belongs, and named when its slot is told of.
// - lingering: a folder the walk has left while files handed on into it
//   are in flight, or while it waits to be named: still held open.
#include <algorithm>
#include <new>

#include "extract/extraction_run.h"
#include "names/entry_name.h"
#include "platform/process.h"

namespace kelvarin {
namespace {

// Files handed on and not yet told of: enough for the walk to run ahead
// into the next folders while a folder's files are written, so that the
// writers write in different folders at once.
constexpr std::size_t kSlots = 2048;

// What is held open is bounded apart, within the descriptors the process
// may still open: a serial run's (the walk's folders, the file it writes,
// what a leftover's removal opens), then for each worker the file it
// writes with its lock and its temporary, and for each lingering folder
// its handle and its lock.
constexpr std::size_t kSerialDescriptors = 16;
constexpr std::size_t kWriterDescriptors = 3;
constexpr std::size_t kFolderDescriptors = 2;
// Past a few lingering folders per worker, holding more gains nothing.
constexpr std::size_t kMostLingering = 64;

}  // namespace

ExtractSummary extract(const ArchiveIndex& index, const ExtractionPlan& plan, Destination destination,
                       const ExtractOptions& options, ExtractReporter& reporter) {
  return ExtractionRun(index, plan, options, reporter).run(std::move(destination));
}

ExtractionRun::ExtractionRun(const ArchiveIndex& index, const ExtractionPlan& plan,
                             const ExtractOptions& options, ExtractReporter& reporter)
    : index_(index),
      plan_(plan),
      options_(options),
      reporter_(reporter),
      files_(options.file_system != nullptr ? *options.file_system : platform::os_file_system()) {}

ExtractSummary ExtractionRun::run(Destination destination) {
  try {
    if (!destination.ok()) {
      summary_.destination = destination.error;
      reporter_.destination_failed(summary_.destination);
      return summary_;
    }
    auto opened = std::make_shared<OutputFolder>();
    opened->folder = std::move(destination.folder);
    folders_.push_back(std::move(opened));
    start(std::min(options_.jobs != 0 ? options_.jobs : default_jobs(), platform::kMaxJobs));
    plan_.replay(index_, *this);
    deliver_all();
  } catch (const std::bad_alloc&) {
    summary_.stopped = true;
    stop();
    reporter_.out_of_memory();
  }
  return summary_;
}

// The pool, and what it takes: with one job the walk writes each file
// itself as it is handed on; with more, it is one of the writers and
// writes while it waits.
void ExtractionRun::start(unsigned jobs) {
  const std::size_t spare = platform::spare_descriptors();
  const std::size_t beyond = spare > kSerialDescriptors ? spare - kSerialDescriptors : 0;
  const unsigned workers = static_cast<unsigned>(
      std::min<std::size_t>(jobs - 1, beyond / (kWriterDescriptors + kFolderDescriptors)));
  most_lingering_ = std::min(kMostLingering, (beyond - workers * kWriterDescriptors) / kFolderDescriptors);
  if (options_.skip_existing) left_alone_.resize(index_.entry_count());
  states_.resize(workers + 1);
  slots_.resize(workers > 0 ? kSlots : 1);
  pool_ = OrderedPool::create(*this, slots_.size(), workers, options_.start_thread);
  if (pool_ == nullptr) throw std::bad_alloc();
  // Fewer for want of descriptors is the user's own limit; fewer than
  // those is the system's refusal, which is told.
  if (pool_->workers() < workers) reporter_.fewer_workers(jobs, pool_->workers() + 1);
}

// Memory ran out: what is not begun is dropped, what is begun finishes.
// Then what is written in a folder being filled is whole, and it still
// gets its name. No memory is taken: there may be none left to take (and
// where a failure to name takes some, the folder keeps its temporary name).
void ExtractionRun::stop() {
  if (pool_ != nullptr) {
    pool_->stop_queued();
    for (std::uint64_t job = pool_->oldest(); job < pool_->next(); ++job) {
      Slot& slot = slots_[job % slots_.size()];
      if (slot.kind != Slot::Kind::folder_to_name) continue;
      try {
        name_staged(*slot.folder);
      } catch (const std::bad_alloc&) {
      }
    }
  }
  for (Slot& slot : slots_) slot.folder.reset();
  while (folders_.size() > 1) {
    const FolderRef left = std::move(folders_.back());
    folders_.pop_back();
    if (!left->staged) continue;
    try {
      files_.name_folder(current_folder()->folder, left->folder, left->temp_name, left->final_name);
    } catch (const std::bad_alloc&) {
    }
  }
}

bool ExtractionRun::enter_folder(const EntryVisit& folder, const PlannedEntry& planned) {
  if (reporter_.wants_stop()) return false;
  // A merged folder goes into the earlier one of its name, which may
  // still wait for that name; it is opened by that one's name, which on a
  // destination that ignores case may differ from its own in case.
  if (planned.fate == Fate::merged) deliver_all();
  const std::string_view name = planned.fate == Fate::merged ? index_.name(planned.place()) : folder.name;
  auto entered = std::make_shared<OutputFolder>();
  OutputFolder& parent = *current_folder();
  entered->fresh = parent.fresh;
  entered->alias = planned.fate == Fate::folded;
  // Among the walk's folders first: a folder made is then never lost, and
  // a run stopped for want of memory still names it.
  folders_.push_back(entered);
  const Error error = entered->alias ? Error{} : make_output_folder(folder, name, parent, *entered);
  if (!error.ok()) {
    folders_.pop_back();
    // Nothing is tried inside a folder that failed: it may be a link
    // leading out of the destination.
    Slot& slot = take_slot(folder, Slot::Kind::folder_failed);
    slot.error = error;
    slot.inside = plan_.taken_inside(index_, folder.entry);
    hand_on(slot);
    return false;
  }
  return true;
}

Error ExtractionRun::make_output_folder(const EntryVisit& folder, std::string_view name, const OutputFolder& parent,
                                        OutputFolder& made) {
  platform::native_name(name, name_);
  // Filled under a temporary name where this run makes it and it holds
  // anything; everything below a fresh folder is fresh already. Where a
  // live run fills that name, the folder is made as it is.
  if (!parent.fresh && index_.node(folder.entry).child != kNoNode && files_.name_is_free(parent.folder, name_)) {
    const TemporaryName temp(name, true);
    made.temp_name.assign(temp.text().begin(), temp.text().end());
    made.final_name = name_;
    if (files_.make_fresh_folder(parent.folder, made.temp_name, made.folder).ok()) {
      made.fresh = made.staged = true;
      return {};
    }
  }
  return files_.make_folder(parent.folder, name_, made.folder);
}

void ExtractionRun::leave_folder(const EntryVisit& folder, const PlannedEntry&) {
  // A staged folder is named when this slot is told of; meanwhile the walk
  // goes on into the next folders. (It leaves the walk's folders only once
  // it is in the slot: a run stopped for want of memory names what it
  // holds.)
  Slot* to_name = folders_.back()->staged ? &take_slot(folder, Slot::Kind::folder_to_name) : nullptr;
  FolderRef left = std::move(folders_.back());
  folders_.pop_back();
  if (to_name != nullptr) {
    left->above = current_folder();
    to_name->folder = left;
    hand_on(*to_name);
  }
  let_go(std::move(left));
}

// A folder left stays open while the files handed on into it are written,
// or until it is named: they hold it. Their number is bounded.
void ExtractionRun::let_go(FolderRef left) {
  if (left.use_count() > 1) lingering_.push_back(left);
  left.reset();
  while (!lingering_.empty() && lingering_.front().expired()) lingering_.pop_front();
  while (lingering_.size() > most_lingering_) {
    deliver_oldest();
    while (!lingering_.empty() && lingering_.front().expired()) lingering_.pop_front();
  }
}

void ExtractionRun::visit(const EntryVisit& entry, const PlannedEntry& planned) {
  if (reporter_.wants_stop()) return;
  if (!planned.written()) {
    Slot& slot = take_slot(entry, Slot::Kind::left_out, planned);
    slot.inside = planned.inside();
    hand_on(slot);
    return;
  }
  const bool first = planned.place() == entry.entry;
  if (!first) {
    // A later file of a name replaces the earlier one: once that is
    // written. And it is left alone with the first where that was.
    deliver_all();
    if (options_.skip_existing && left_alone_[planned.place()]) {
      hand_on(take_slot(entry, Slot::Kind::skipped, planned));
      return;
    }
  }
  Slot& slot = take_slot(entry, Slot::Kind::file, planned);
  slot.folder = current_folder();
  slot.fresh = slot.folder->fresh;
  slot.first_of_name = first;
  hand_on(slot);
}

const ExtractionRun::FolderRef& ExtractionRun::current_folder() {
  std::size_t level = folders_.size() - 1;
  while (folders_[level]->alias) --level;
  return folders_[level];
}

ExtractionRun::Slot& ExtractionRun::take_slot(const EntryVisit& visit, Slot::Kind kind, const PlannedEntry& planned) {
  // All in flight: the oldest is told of first.
  if (pool_->full()) deliver_oldest();
  Slot& slot = slots_[pool_->next() % slots_.size()];
  slot.kind = kind;
  slot.entry = visit.entry;
  slot.depth = visit.depth;
  slot.folder_path.assign(visit.folder_path);
  slot.name = visit.name;
  slot.is_folder = visit.is_folder;
  slot.name_readable = visit.name_readable;
  slot.planned = planned;
  slot.inside = 0;
  slot.error = {};
  slot.left = {};
  slot.left_alone = false;
  slot.out_of_memory = false;
  return slot;
}

void ExtractionRun::hand_on(Slot& slot) {
  pool_->hand_on(slot.kind == Slot::Kind::file ? &slot.folder->writers : nullptr);
  deliver_done();
}

void ExtractionRun::deliver_oldest() {
  pool_->wait_for(pool_->oldest());
  deliver(slots_[pool_->oldest() % slots_.size()]);
}

void ExtractionRun::deliver_done() {
  while (pool_->oldest() < pool_->next() && pool_->done(pool_->oldest())) deliver(slots_[pool_->oldest() % slots_.size()]);
}

void ExtractionRun::deliver_all() {
  while (pool_->oldest() < pool_->next()) deliver_oldest();
}

void ExtractionRun::deliver(Slot& slot) {
  pool_->retire();
  const FolderRef folder = std::move(slot.folder);
  const EntryVisit visit = slot.visit();
  const std::int32_t size = index_.node(slot.entry).file_size;
  switch (slot.kind) {
    case Slot::Kind::file:
      if (slot.out_of_memory) throw std::bad_alloc();
      if (!slot.left_alone) {
        reporter_.file(visit, size);
        if (slot.error.ok()) {
          ++summary_.files_written;
          summary_.bytes_written += static_cast<std::uint64_t>(size);
        } else {
          ++summary_.failed;
          reporter_.file_failed(visit, slot.error, slot.left);
        }
        break;
      }
      [[fallthrough]];
    case Slot::Kind::skipped:
      left_alone_[slot.entry] = true;
      ++summary_.skipped;
      reporter_.skipped(visit, size);
      break;
    case Slot::Kind::left_out:
      summary_.refused += 1 + slot.inside;
      reporter_.left_out(visit, slot.planned);
      break;
    case Slot::Kind::folder_failed:
      ++summary_.failed;
      summary_.refused += slot.inside;
      reporter_.folder_failed(visit, slot.error, slot.inside);
      break;
    case Slot::Kind::folder_to_name:
      if (const Error named = name_staged(*folder); !named.ok()) {
        ++summary_.failed;
        reporter_.folder_not_named(visit, named, TemporaryName(slot.name, true).text());
      }
      break;
  }
}

Error ExtractionRun::name_staged(OutputFolder& folder) {
  const FolderRef above = std::move(folder.above);
  return files_.name_folder(above->folder, folder.folder, folder.temp_name, folder.final_name);
}

}  // namespace kelvarin
