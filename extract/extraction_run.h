// One extraction run carrying out its plan. The walk (extraction.cpp)
// follows the plan in order on the calling thread: it makes and enters each
// folder through the folder holding it, holds it open, and hands each file
// on; workers (file_writer.cpp) create, copy and name the files in
// parallel. What happens is told to the reporter from the calling thread,
// in the walk's order, so that the lines, the statuses and the tree left
// on disk are those of a serial run. Not used outside extract/.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "extract/extraction.h"
#include "names/name_table.h"
#include "platform/file_system.h"

namespace kelvarin {

class ExtractionRun final : public PlanVisitor {
 public:
  ExtractionRun(const ArchiveIndex& index, const ExtractionPlan& plan, const ExtractOptions& options,
                ExtractReporter& reporter);
  ~ExtractionRun() override;

  ExtractSummary run(Destination destination);

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void leave_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void visit(const EntryVisit& entry, const PlannedEntry& planned) override;

 private:
  struct Slot;

  // A folder of the output that the walk is in, held open while it is and
  // while any file handed on into it is being written.
  struct OutputFolder {
    platform::Folder folder;
    bool alias = false;   // an empty name: the folder above it again
    bool fresh = false;   // made by this run and not yet under its name
    // Filled under a temporary name beside where it belongs, and given its
    // name when left, so that a killed run never shows a half-written file
    // under its name, while the files in it go straight under theirs.
    bool staged = false;
    platform::NativeString temp_name;
    platform::NativeString final_name;
    // Once left, the folder it is named in; held until then.
    std::shared_ptr<OutputFolder> above;
    // With workers, what the names handed on into it may meet on disk as
    // (keyed hashes): each folded, and each temporary name.
    std::unordered_set<std::uint64_t> met_names;
    // Its files waiting for a worker, linked through their slots (so that
    // queueing takes no memory), and how many are being written.
    Slot* first_waiting = nullptr;
    Slot* last_waiting = nullptr;
    unsigned writers = 0;
  };
  using FolderRef = std::shared_ptr<OutputFolder>;

  // What the walk hands on, told in the walk's order once it is done: a
  // file to write, something told of at once, or a staged folder to name
  // once everything before it is told of.
  struct Slot {
    enum class Kind { file, skipped, left_out, folder_failed, folder_to_name };
    Kind kind = Kind::file;
    // The entry as the walk met it; its folder path is copied, as the
    // walk's own buffer moves on.
    std::uint32_t entry = 0;
    std::uint32_t depth = 0;
    std::string folder_path;
    std::string_view name;
    bool is_folder = false;
    bool name_readable = true;
    PlannedEntry planned;
    std::uint64_t inside = 0;
    // A file's work, and its outcome.
    FolderRef folder;
    bool fresh = false;
    bool first_of_name = true;
    Error error;
    Error left;  // a failure to remove what was written
    bool left_alone = false;
    bool out_of_memory = false;
    bool done = false;
    Slot* next_waiting = nullptr;  // in its folder's queue

    EntryVisit visit() const { return {entry, depth, folder_path, name, is_folder, name_readable}; }
  };

  // What each worker keeps from file to file, so that once grown a file
  // costs no allocation: names in the OS's form, the copy buffer.
  struct WorkerState {
    platform::NativeString name;
    platform::NativeString temp_name;
    std::vector<char> copy_buffer;
  };

  const FolderRef& current_folder();
  Error make_output_folder(const EntryVisit& folder, OutputFolder& made);
  Error name_staged(OutputFolder& folder);
  void wait_for_same_name(std::string_view name, bool is_folder);

  // The walk's side.
  Slot& take_slot(const EntryVisit& visit, Slot::Kind kind, const PlannedEntry& planned = {});
  void hand_on(Slot& slot);
  void wait_for(Slot& slot);
  void deliver_done();
  void deliver_all();
  void deliver(Slot& slot);

  // The files waiting for a worker, by folder. A worker takes one from
  // the first folder nobody else writes in, where there is one: creating a
  // file locks its folder, so files in other folders are written at the
  // same time. Called with mutex_ held.
  void queue(Slot& slot);
  Slot* take_queued();
  void drop_queued();

  // The workers' side.
  void work();
  void write(Slot& slot, WorkerState& state);
  bool write_fresh_file(Slot& slot, WorkerState& state, std::uint64_t position, std::uint64_t length);
  void write_file(Slot& slot, WorkerState& state, std::uint64_t position, std::uint64_t length);

  const ArchiveIndex& index_;
  const ExtractionPlan& plan_;
  const ExtractOptions& options_;
  ExtractReporter& reporter_;
  platform::FileSystem& files_;
  ExtractSummary summary_;
  std::vector<FolderRef> folders_;  // the destination first
  // Folders the walk has left whose files are still in flight: they stay
  // open until then, and so are bounded.
  std::deque<std::weak_ptr<OutputFolder>> lingering_;
  // With skip_existing: by entry, the first files of their names that were
  // left alone, so that the later files of those names are too.
  std::vector<bool> left_alone_;
  platform::NativeString name_;  // the walk's own, for folders
  KeyedHash met_hash_;
  std::string folded_;  // the walk's own

  // Slots in flight, a ring: [delivered_, handed_) are handed on, and told
  // of in that order.
  std::vector<Slot> slots_;
  std::uint64_t delivered_ = 0;
  std::uint64_t handed_ = 0;
  std::mutex mutex_;
  std::condition_variable work_waiting_;  // for the workers
  std::condition_variable work_done_;     // for the walk
  // In the order their files came; room for as many as there are slots.
  std::vector<OutputFolder*> waiting_folders_;
  unsigned idle_ = 0;             // workers waiting for work
  Slot* waited_for_ = nullptr;    // the slot the walk sleeps on
  bool stopping_ = false;
  std::vector<std::thread> workers_;
  // The walk writes files too: each file with one job, and those waiting
  // while it waits for one.
  WorkerState walk_state_;
};

}  // namespace kelvarin
