// The state of one extraction run, shared by the walk (folders, walk.cpp)
// and the file writer (extract_entry.cpp). Not used outside extract/.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "extract/extraction.h"
#include "platform/platform.h"

namespace kelvarin {

class ExtractState final : public TreeVisitor {
 public:
  ExtractState(const ArchiveIndex& index, const ExtractOptions& options, ExtractReporter& reporter)
      : index_(index), options_(options), reporter_(reporter) {}

  ExtractSummary run();

  bool enter_folder(const EntryVisit& folder) override;
  void leave_folder(const EntryVisit& folder) override;
  void visit_file(const EntryVisit& file) override;
  void visit_unnamed(const EntryVisit& entry) override;

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
    // With skip_existing, in a folder that was there: the names this run
    // wrote, which a later entry of the same name replaces as usual.
    std::unordered_set<platform::NativeString> written;
  };

  bool selected(const EntryVisit& visit) const;
  // Reports and counts the entry when it is refused, with all it holds.
  bool refused(const EntryVisit& visit);
  OutputFolder& current_folder();
  Error make_output_folder(const EntryVisit& folder, OutputFolder& made);
  void extract_entry(const EntryVisit& file);
  bool skip_existing(const EntryVisit& file, std::int32_t size);
  bool write_fresh_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length);
  void write_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length);
  void report_copy_failure(const EntryVisit& file, const Error& error, const Error& left = {});
  void report(const std::string& message);
  // The entry as error lines name it: the destination as typed, then its
  // printed path.
  std::string shown_path(const EntryVisit& visit) const;

  const ArchiveIndex& index_;
  const ExtractOptions& options_;
  ExtractReporter& reporter_;
  ExtractSummary summary_;
  std::vector<OutputFolder> folders_;  // the destination first

  // Reused by every file, so that once they have grown a file costs no
  // allocation: its name in the OS's form, its temporary name, and the one
  // copy buffer for bytes the kernel can't copy.
  platform::NativeString name_;
  platform::NativeString temp_name_;
  std::vector<char> copy_buffer_;
};

}  // namespace kelvarin
