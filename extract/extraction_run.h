// One extraction run carrying out its plan: the folders it holds open
// (extraction.cpp) and the files it writes into them (file_writer.cpp).
// Not used outside extract/.
#pragma once

#include <string>
#include <vector>

#include "extract/extraction.h"
#include "platform/file_system.h"

namespace kelvarin {

class ExtractionRun final : public PlanVisitor {
 public:
  ExtractionRun(const ArchiveIndex& index, const ExtractionPlan& plan, const ExtractOptions& options,
                ExtractReporter& reporter);

  ExtractSummary run();

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void leave_folder(const EntryVisit& folder, const PlannedEntry& planned) override;
  void visit(const EntryVisit& entry, const PlannedEntry& planned) override;

 private:
  // A folder of the output that the walk is in, held open while it is.
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
  };

  OutputFolder& current_folder();
  Error make_output_folder(const EntryVisit& folder, OutputFolder& made);
  void extract_file(const EntryVisit& file, const PlannedEntry& planned);
  bool skip_existing(const EntryVisit& file, const PlannedEntry& planned);
  bool write_fresh_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length);
  void write_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length);
  void file_failed(const EntryVisit& file, const Error& error, const Error& left = {});

  const ArchiveIndex& index_;
  const ExtractionPlan& plan_;
  const ExtractOptions& options_;
  ExtractReporter& reporter_;
  platform::FileSystem& files_;
  ExtractSummary summary_;
  std::vector<OutputFolder> folders_;  // the destination first
  // With skip_existing: by entry, the first files of their names that were
  // left alone, so that the later files of those names are too.
  std::vector<bool> left_alone_;

  // Reused by every file, so that once they have grown a file costs no
  // allocation: its name in the OS's form, its temporary name, and the one
  // copy buffer for bytes the kernel can't copy.
  platform::NativeString name_;
  platform::NativeString temp_name_;
  std::vector<char> copy_buffer_;
};

}  // namespace kelvarin
