// One extraction run carrying out its plan. The walk (extraction.cpp)
// follows the plan in order on the calling thread: it makes and enters each
// folder through the folder holding it, holds it open, and hands each file
// on to an OrderedPool, whose workers write it (file_writer.cpp). What
// happens is told to the reporter from the calling thread, in the walk's
// order, so that the lines, the statuses and the tree left on disk are
// those of a serial run. Not used outside extract/.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "extract/extraction.h"
#include "extract/ordered_pool.h"
#include "platform/file_system.h"

namespace kelvarin {

class ExtractionRun final : public PlanVisitor, private OrderedPool::Work {
 public:
  ExtractionRun(const ArchiveIndex& index, const ExtractionPlan& plan, const ExtractOptions& options,
                ExtractReporter& reporter);

  ExtractSummary run(Destination destination);

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void leave_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void visit(const EntryVisit& entry, const PlannedEntry& planned) override;

 private:
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
    // Its files in the pool: creating a file locks its folder, so workers
    // keep to different folders where they can.
    OrderedPool::Group writers;
  };
  using FolderRef = std::shared_ptr<OutputFolder>;

  // What the walk hands on, told in the walk's order once it is done: a
  // file to write, something told of at once, or a staged folder to name
  // once everything before it is told of. Slot n holds the pool's job n.
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

    EntryVisit visit() const { return {entry, depth, folder_path, name, is_folder, name_readable}; }
  };

  // What each runner keeps from file to file, so that once grown a file
  // costs no allocation: names in the OS's form, the copy buffer.
  struct WriterState {
    platform::NativeString name;
    platform::NativeString temp_name;
    std::vector<char> copy_buffer;
  };

  void start(unsigned jobs);
  void stop();
  const FolderRef& current_folder();
  Error make_output_folder(const EntryVisit& folder, std::string_view name, const OutputFolder& parent,
                           OutputFolder& made);
  Error name_staged(OutputFolder& folder);
  void let_go(FolderRef left);

  // The walk's side.
  Slot& take_slot(const EntryVisit& visit, Slot::Kind kind, const PlannedEntry& planned = {});
  void hand_on(Slot& slot);
  void deliver_oldest();
  void deliver_done();
  void deliver_all();
  void deliver(Slot& slot);

  // The writers' side (file_writer.cpp).
  void run(std::uint64_t job, unsigned runner) noexcept override;
  void write(Slot& slot, WriterState& state);
  bool write_fresh_file(Slot& slot, WriterState& state, std::uint64_t position, std::uint64_t length);
  void write_file(Slot& slot, WriterState& state, std::uint64_t position, std::uint64_t length);
  Error copy_out(std::uint64_t position, std::uint64_t length, const platform::FileHandle& output,
                 WriterState& state);

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
  std::size_t most_lingering_ = 0;
  // With skip_existing: by entry, the first files of their names that were
  // left alone, so that the later files of those names are too.
  std::vector<bool> left_alone_;
  platform::NativeString name_;  // the walk's own, for folders
  std::vector<WriterState> states_;  // by runner
  // Slots in flight, by the pool's job number.
  std::vector<Slot> slots_;
  // Last, so that it stops before what its jobs use goes.
  std::unique_ptr<OrderedPool> pool_;
};

}  // namespace kelvarin
