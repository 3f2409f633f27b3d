// Carrying out the plan: the destination opened, then, in the walk's
// order, every folder made and entered through the folder that holds it
// and every file handed on to be written. A folder the run makes is filled
// under a temporary name and named once everything in it is written; what
// the workers did is told in the walk's order.
#include <algorithm>
#include <new>
#include <system_error>

#include "extract/extraction_run.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "platform/process.h"

namespace kelvarin {
namespace {

// Files handed on and not yet told of: enough for the walk to run ahead
// into the next folders while a folder's files are written, so that the
// jobs write in different folders at once. What they hold open is bounded
// apart: folders the walk has left with files still in flight, at most
// kMostLingering, so that with the walk's 512 held folders at the deepest
// and a few files each job writes, the run stays far below the usual limit
// of 1,024 descriptors.
constexpr std::size_t kSlots = 2048;
constexpr std::size_t kMostLingering = 64;

}  // namespace

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

ExtractionRun::~ExtractionRun() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_waiting_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

ExtractSummary ExtractionRun::run() {
  auto destination = std::make_shared<OutputFolder>();
  summary_.destination = files_.open_destination(options_.destination, options_.make_parents, destination->folder);
  if (!summary_.destination.ok()) {
    summary_.destination.on(options_.destination);
    reporter_.destination_failed(summary_.destination);
    return summary_;
  }
  folders_.push_back(std::move(destination));
  const unsigned jobs = std::min(options_.jobs != 0 ? options_.jobs : default_jobs(), platform::kMaxJobs);
  try {
    if (options_.skip_existing) left_alone_.resize(index_.entry_count());
    slots_.resize(jobs > 1 ? kSlots : 1);
    // Handing a file on takes no memory: a folder waits here once at most,
    // and only with a file in a slot.
    if (jobs > 1) waiting_folders_.reserve(kSlots);
    // The walk is one of the jobs: it writes while it waits. Where the
    // system grants fewer threads, the run makes do with those it has.
    try {
      for (unsigned i = 1; i < jobs; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
    }
    plan_.replay(index_, *this);
    deliver_all();
  } catch (const std::bad_alloc&) {
    summary_.stopped = true;
    // What is not begun is dropped, what is begun finishes: then what is
    // written in a folder being filled is whole, and it still gets its
    // name. The report is made without taking memory: there may be none
    // left to take.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      drop_queued();
      for (std::uint64_t at = delivered_; at < handed_; ++at) {
        Slot& slot = slots_[at % slots_.size()];
        while (!slot.done) {
          waited_for_ = &slot;
          work_done_.wait(lock);
        }
      }
      waited_for_ = nullptr;
    }
    for (std::uint64_t at = delivered_; at < handed_; ++at) {
      Slot& slot = slots_[at % slots_.size()];
      if (slot.kind == Slot::Kind::folder_to_name) name_staged(*slot.folder);
    }
    for (Slot& slot : slots_) slot.folder.reset();
    while (folders_.size() > 1) {
      const FolderRef left = std::move(folders_.back());
      folders_.pop_back();
      if (left->staged) files_.name_folder(current_folder()->folder, left->folder, left->temp_name, left->final_name);
    }
    reporter_.out_of_memory();
  }
  return summary_;
}

bool ExtractionRun::enter_folder(const EntryVisit& folder, const PlannedEntry& planned) {
  // A merged folder meets the earlier one of its name, which may still
  // wait for that name.
  if (planned.fate != Fate::folded) wait_for_same_name(folder.name, true);
  auto entered = std::make_shared<OutputFolder>();
  entered->fresh = current_folder()->fresh;
  entered->alias = planned.fate == Fate::folded;
  const Error error = entered->alias ? Error{} : make_output_folder(folder, *entered);
  if (!error.ok()) {
    // Nothing is tried inside a folder that failed: it may be a link
    // leading out of the destination.
    Slot& slot = take_slot(folder, Slot::Kind::folder_failed);
    slot.error = error;
    slot.inside = index_.count_inside(folder.entry);
    hand_on(slot);
    return false;
  }
  folders_.push_back(std::move(entered));
  return true;
}

Error ExtractionRun::make_output_folder(const EntryVisit& folder, OutputFolder& made) {
  const OutputFolder& parent = *current_folder();
  platform::native_name(folder.name, name_);
  // Filled under a temporary name where this run makes it and it holds
  // anything; everything below a fresh folder is fresh already. Where a
  // live run fills that name, the folder is made as it is.
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
  // A staged folder is named once everything in it is written and told
  // of, when this slot is told of in turn; meanwhile the walk goes on into
  // the next folders. (It leaves the walk's folders only once it is in
  // the slot: a run stopped for want of memory names what it holds.)
  Slot* to_name = folders_.back()->staged ? &take_slot(folder, Slot::Kind::folder_to_name) : nullptr;
  const FolderRef left = std::move(folders_.back());
  folders_.pop_back();
  if (to_name != nullptr) {
    left->above = current_folder();
    to_name->folder = left;
    hand_on(*to_name);
  }
  // It stays open while the files handed on into it are written, or until
  // it is named: they hold it. Their number is bounded.
  if (left.use_count() > 1) lingering_.push_back(left);
  while (!lingering_.empty() && lingering_.front().expired()) lingering_.pop_front();
  while (lingering_.size() > kMostLingering) {
    Slot& oldest = slots_[delivered_ % slots_.size()];
    wait_for(oldest);
    deliver(oldest);
    while (!lingering_.empty() && lingering_.front().expired()) lingering_.pop_front();
  }
}

void ExtractionRun::visit(const EntryVisit& entry, const PlannedEntry& planned) {
  if (!planned.written()) {
    Slot& slot = take_slot(entry, Slot::Kind::left_out, planned);
    slot.inside = planned.inside();
    hand_on(slot);
    return;
  }
  const bool first = planned.place() == entry.entry;
  wait_for_same_name(entry.name, false);
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

// Names the plan keeps apart may still meet on disk while their files are
// written at once: two that fold as one, on a file system that ignores case
// (Windows's, and FAT, exFAT or NTFS under any OS), and in a folder that was
// there before, two whose temporary names are one. A name that meets one
// handed on before waits until that one is written, as in a serial run.
// (ASCII letters: how a file system folds others depends on its tables.)
void ExtractionRun::wait_for_same_name(std::string_view name, bool is_folder) {
  if (workers_.empty()) return;
  OutputFolder& folder = *current_folder();
  folded_.assign(name);
  for (char& c : folded_) c = ascii_lower(c);
  bool met = !folder.met_names.insert(met_hash_(0, folded_)).second;
  if (!folder.fresh) met = !folder.met_names.insert(met_hash_(1, TemporaryName(name, is_folder).text())).second || met;
  if (met) deliver_all();
}

const ExtractionRun::FolderRef& ExtractionRun::current_folder() {
  std::size_t level = folders_.size() - 1;
  while (folders_[level]->alias) --level;
  return folders_[level];
}

ExtractionRun::Slot& ExtractionRun::take_slot(const EntryVisit& visit, Slot::Kind kind, const PlannedEntry& planned) {
  // All in flight: the oldest is told of first.
  if (handed_ - delivered_ == slots_.size()) {
    Slot& oldest = slots_[delivered_ % slots_.size()];
    wait_for(oldest);
    deliver(oldest);
  }
  Slot& slot = slots_[handed_ % slots_.size()];
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
  slot.done = kind != Slot::Kind::file;
  return slot;
}

void ExtractionRun::hand_on(Slot& slot) {
  ++handed_;
  if (slot.kind == Slot::Kind::file) {
    if (workers_.empty()) {
      write(slot, walk_state_);
      slot.done = true;
    } else {
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        queue(slot);
        wake = idle_ > 0;
      }
      if (wake) work_waiting_.notify_one();
    }
  }
  deliver_done();
}

void ExtractionRun::wait_for(Slot& slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!slot.done) {
    if (Slot* job = take_queued()) {
      lock.unlock();
      write(*job, walk_state_);
      lock.lock();
      --job->folder->writers;
      job->done = true;
      continue;
    }
    waited_for_ = &slot;
    work_done_.wait(lock);
    waited_for_ = nullptr;
  }
}

void ExtractionRun::queue(Slot& slot) {
  OutputFolder& folder = *slot.folder;
  slot.next_waiting = nullptr;
  if (folder.first_waiting == nullptr) {
    waiting_folders_.push_back(&folder);  // within what was reserved
    folder.first_waiting = &slot;
  } else {
    folder.last_waiting->next_waiting = &slot;
  }
  folder.last_waiting = &slot;
}

ExtractionRun::Slot* ExtractionRun::take_queued() {
  if (waiting_folders_.empty()) return nullptr;
  auto from = std::find_if(waiting_folders_.begin(), waiting_folders_.end(),
                           [](const OutputFolder* folder) { return folder->writers == 0; });
  if (from == waiting_folders_.end()) from = waiting_folders_.begin();
  OutputFolder& folder = **from;
  Slot* slot = folder.first_waiting;
  folder.first_waiting = slot->next_waiting;
  if (folder.first_waiting == nullptr) waiting_folders_.erase(from);
  ++folder.writers;
  return slot;
}

void ExtractionRun::drop_queued() {
  for (OutputFolder* folder : waiting_folders_) {
    for (Slot* dropped = folder->first_waiting; dropped != nullptr; dropped = dropped->next_waiting) dropped->done = true;
    folder->first_waiting = nullptr;
  }
  waiting_folders_.clear();
}

void ExtractionRun::deliver_done() {
  while (delivered_ < handed_) {
    Slot& slot = slots_[delivered_ % slots_.size()];
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!slot.done) return;
    }
    deliver(slot);
  }
}

void ExtractionRun::deliver_all() {
  while (delivered_ < handed_) {
    Slot& slot = slots_[delivered_ % slots_.size()];
    wait_for(slot);
    deliver(slot);
  }
}

void ExtractionRun::deliver(Slot& slot) {
  ++delivered_;
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
