// The words both programs use for what the index, the plan and the
// extraction report: why an entry is left out, what damage the index
// found, how many entries went with it, what became of a file or folder
// that failed, and why an archive can't be used. The engine reports facts;
// the sentences are made here and in the two front ends only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive_index.h"
#include "archive/tree_walk.h"
#include "extract/extraction.h"
#include "extract/extraction_plan.h"

namespace kelvarin {

// How entries' paths are shown: as Kelvarin_Extract prints them, a
// backslash after each folder ("\maps\level1.map"), or as brq lists them,
// names joined by '/' ("maps/level1.map").
enum class PathForm { printed, listed };

// `text` with each control character (C0, DEL and C1) shown as '?', so that
// one message is always one line and can't drive a terminal. brq (`listed`)
// also shows each byte that is not part of well-formed UTF-8 as U+FFFD, as
// its JSON does; Kelvarin_Extract (`printed`) has always kept them.
std::string one_line(std::string_view text, PathForm form = PathForm::listed);

// "ERROR: " + one_line(message, form) + "\n".
std::string error_line(std::string_view message, PathForm form = PathForm::listed);

// Why `name` can't stand on disk, as a phrase ("the name would leave its
// folder"); empty for NameProblem::none.
const char* describe(NameProblem problem);

// What the index found wrong with `entry`, as a phrase ("its size -5 is
// negative"); empty for none.
std::string describe_damage(const ArchiveIndex& index, std::uint32_t entry);

// Why the plan leaves `entry` out, as a phrase; with the walk's `visit` of
// it, how deep it lies and how long its path is.
std::string left_out_reason(const ArchiveIndex& index, std::uint32_t entry, const PlannedEntry& planned,
                            const EntryVisit* visit = nullptr);

// "; the N entries inside it are skipped" (nothing for none): what a
// refused or failed folder takes with it.
std::string inside_count(std::uint64_t count);

// Why the archive `error` names can't be read as one: "<path> is not a
// usable archive: ...", "Unable to read the index of <path>: ...",
// "Unable to open file: <path>: ...".
std::string archive_problem(const Error& error);

// The path of `visit` in `form`; a folder's listed path "/" for the usual
// root.
std::string shown_path(const EntryVisit& visit, PathForm form);

// The extraction's failures in words, each as one "ERROR: " line: the
// entry named under the destination as typed, in the front end's form.
// The front end adds what it says of each file written.
class ExtractionLines : public ExtractReporter {
 public:
  ExtractionLines(const ArchiveIndex& index, std::string destination, PathForm form)
      : index_(index), destination_(std::move(destination)), form_(form) {}

  void left_out(const EntryVisit& entry, const PlannedEntry& planned) override;
  void folder_failed(const EntryVisit& folder, const Error& error, std::uint64_t inside) override;
  void folder_not_named(const EntryVisit& folder, const Error& error, std::string_view temporary_name) override;
  void file_failed(const EntryVisit& file, const Error& error, const Error& left) override;
  void destination_failed(const Error& error) override;
  void out_of_memory() override;

 protected:
  // One whole line, "ERROR: ...\n".
  virtual void error(std::string_view line) = 0;

 private:
  // The entry under the destination: "out\maps\a.dat", "out/maps/a.dat".
  std::string under_destination(const EntryVisit& visit) const;

  const ArchiveIndex& index_;
  std::string destination_;
  PathForm form_;
};

// "entry 7, \maps\x.dat", or for an entry without a readable name "entry
// 7 in \maps\" (the folder it is in) or "entry 7 in the top level": how a
// line names an entry, in `form`.
std::string entry_description(const EntryVisit& visit, PathForm form);

// "Skipping entry 7, \maps\x.dat: <reason>; the N entries inside it are
// skipped" (in `form`).
std::string left_out_message(const ArchiveIndex& index, const EntryVisit& visit, const PlannedEntry& planned,
                             PathForm form);

}  // namespace kelvarin
