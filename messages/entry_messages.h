// The words both programs use for what the index, the plan and the
// extraction report: why an entry is left out, what damage the index
// found, how many entries went with it, what became of a file or folder
// that failed, and why an archive can't be used. The engine reports facts;
// the sentences are made here and in the two front ends only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// "N names differ only in case: on Windows only one of each survives": the
// note on an archive whose plan has `count` case twins.
std::string case_twins_note(std::uint64_t count);

// Why `error` happened, in words: the OS's or the reason it carries, or
// what the program found (Error::Finding).
std::string cause_of(const Error& error);

// Why the archive `opened` names can't be read as one: "<path> is not a
// usable archive: ...", "Unable to read the index of <path>: ...",
// "Unable to open file: <path>: ...".
std::string archive_problem(const OpenedIndex& opened);

// Whether the plan leaves `entry` out because the archive ends before its
// data: a cut archive (a broken download) has a great many of them.
bool cut_off(const ArchiveIndex& index, std::uint32_t entry, const PlannedEntry& planned);

// "<path> ends at byte N, before the data of M files: they are left out
// (--verbose lists them)": the `files` cut off, in one line.
std::string cut_off_message(const ArchiveIndex& index, std::uint64_t files);

// The path as Kelvarin_Extract prints it, appended to `out`: each folder
// name followed by a backslash, then the name ("\maps\level1.map").
void append_printed_path(std::string& out, const EntryVisit& visit);

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

  // Tells the lines that repeat one another once: the files cut off by the
  // archive's end, and after the first failure of a full or read-only disk
  // those of the same cause, are counted and told by closing_lines().
  void count_repeats() { count_repeats_ = true; }
  // The lines that tell what was counted, "ERROR: ...\n" each.
  std::vector<std::string> closing_lines() const;

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
  // Whether the failure `error` repeats the cause of one told before; it
  // is then counted instead.
  bool repeats(const Error& error);

  // A cause of failure told once, and how often it came again.
  struct Repeated {
    Error::Kind kind;
    int os_code;
    std::string cause;
    std::uint64_t again = 0;
  };

  const ArchiveIndex& index_;
  std::string destination_;
  PathForm form_;
  bool count_repeats_ = false;
  std::uint64_t cut_off_ = 0;
  std::vector<Repeated> repeated_;
};

// "only 3 of 8 workers could be started\n": fewer writers than asked, the
// system having refused the rest; each front end puts its name before it.
std::string workers_started(unsigned asked, unsigned started);

// "entry 7, \maps\x.dat", or for an entry without a readable name "entry
// 7 in \maps\" (the folder it is in) or "entry 7 in the top level": how a
// line names an entry, in `form`.
std::string entry_description(const EntryVisit& visit, PathForm form);

// "Skipping entry 7, \maps\x.dat: <reason>; the N entries inside it are
// skipped" (in `form`).
std::string left_out_message(const ArchiveIndex& index, const EntryVisit& visit, const PlannedEntry& planned,
                             PathForm form);

// The line naming an entry the plan leaves out, in brq's form: "Damaged
// entry 7, maps/x.dat: <damage>" where the index shows damage, else
// left_out_message.
std::string left_out_line(const ArchiveIndex& index, const EntryVisit& visit, const PlannedEntry& planned);

// "No entry named maps/a.map in a.brq", "No entry matches *.wav in a.brq".
std::string nothing_named(const std::string& path, const std::string& archive);

}  // namespace kelvarin
