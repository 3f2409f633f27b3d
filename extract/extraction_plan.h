// What an extraction makes of every entry, decided by one walk of the
// index before anything is written: written, and where; a folder merged
// into an earlier one of its name; a file replaced by a later one of its
// name; left out because a file and a folder share a name, or because
// where case is ignored its name is an earlier file's in another case;
// refused, with why and how many entries went with it; or not chosen.
// Extraction carries the plan out; the listing, the check, the comparison,
// the mount and the progress totals read it, so the rules and the limits
// live here once.
//
// The plan is a table of eight bytes per entry: names stay in the index,
// reasons are codes, and each front end puts them into its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/archive_index.h"
#include "archive/tree_walk.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "names/entry_selection.h"
#include "platform/files.h"

namespace kelvarin {

enum class Fate : std::uint8_t {
  unreached,        // the walk never comes to it: linked from nowhere, or below what is not chosen
  passed_over,      // the walk meets it, but neither it nor anything it holds is chosen
  folder,           // a folder made (or found there) and filled
  folded,           // a folder without a name: what it holds goes into the folder holding it
  merged,           // a folder of a name an earlier folder there took: what it holds goes into that one
  file,             // a file written
  replaced,         // a file written, then replaced by a later file of its name
  left_out,         // left out with all it holds: refusal() says why
  inside_left_out,  // inside an entry left out
};

// Why an entry is left out.
enum class Refusal : std::uint8_t {
  none,
  damaged,            // the index marks it: ArchiveIndex::node(entry).problem says how
  bad_name,           // its name can't stand on disk: name_problem() says how
  too_deep,           // a folder inside more than kMaxFolderDepth folders
  path_too_long,      // its path is longer than kMaxPathBytes
  file_holds_name,    // a file of its name came before it (it is a folder)
  folder_holds_name,  // a folder of its name came before it (it is a file)
  case_twin,          // where case is ignored, an earlier file holds its name in another case (it is a file)
};

struct PlannedEntry {
  Fate fate = Fate::unreached;
  Refusal refusal = Refusal::none;
  NameProblem name_problem = NameProblem::none;
  // The selection takes it, or (left out) may want what it holds: what
  // becomes of it is told.
  bool taken = false;
  union {
    // A placed entry's place: the entry whose name on disk it takes (a
    // merged folder's first folder, a replacing file's first file; itself
    // for the first). A case twin: the earlier file holding its name.
    std::uint32_t place_entry = 0;
    // Any other entry left out: how many entries it holds (those the
    // selection takes, where it is told of only as a requested path may
    // lie inside it).
    std::uint32_t inside_count;
  };

  // Walked into: its contents are planned too.
  bool entered() const { return fate == Fate::folder || fate == Fate::folded || fate == Fate::merged; }
  bool written() const { return fate == Fate::file || fate == Fate::replaced; }
  std::uint32_t place() const { return place_entry; }
  std::uint32_t inside() const {
    return fate == Fate::left_out && refusal != Refusal::case_twin ? inside_count : 0;
  }
};
static_assert(sizeof(PlannedEntry) == 8, "the plan keeps eight bytes per entry");

// The plan read in the walk's order. Entries passed over, and those left
// out that the selection doesn't take, are not shown.
class PlanVisitor {
 public:
  virtual ~PlanVisitor() = default;
  // A folder the plan fills (folder, folded or merged): true to walk what
  // it holds, after which leave_folder comes.
  virtual bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) = 0;
  virtual void leave_folder(const EntryVisit& /*folder*/, const PlannedEntry& /*planned*/) {}
  // Every other entry: a file written or replaced, an entry left out.
  virtual void visit(const EntryVisit& entry, const PlannedEntry& planned) = 0;
};

// How this OS's folders take names where no destination is asked: the
// rule of a plan that tells what an extraction here would do.
inline constexpr CaseRule kUsualCaseRule{platform::kFoldsCase};

class ExtractionPlan {
 public:
  // Plans the extraction of what `request` chooses of `index` (everything
  // when it is null) into a destination whose folders take names under
  // `rule`. Fails only when memory runs out.
  static Result<ExtractionPlan> make(const ArchiveIndex& index, const SelectionRequest* request, CaseRule rule);

  CaseRule case_rule() const { return case_rule_; }

  const PlannedEntry& operator[](std::uint32_t entry) const { return entries_[entry]; }

  // Walks the plan in the walk's order.
  void replay(const ArchiveIndex& index, PlanVisitor& visitor) const;

  // How many entries below `entry` the plan makes, writes or tells of (an
  // entry left out with all it holds): what a folder that can't be made
  // takes with it, as far as the selection asked for it.
  std::uint64_t taken_inside(const ArchiveIndex& index, std::uint32_t entry) const;

  // By path of the request: the entries it names itself, and the folders
  // left out that may hold what it names, in walk order (excluded ones,
  // and those inside what is left out, are not reached).
  const std::vector<std::vector<std::uint32_t>>& named() const { return named_; }
  // The numbers of the request's paths that name nothing.
  const std::vector<std::size_t>& missing() const { return missing_; }

  // What the extraction will write: files (replaced ones too) and bytes.
  std::uint64_t files_to_write() const { return files_to_write_; }
  std::uint64_t bytes_to_write() const { return bytes_to_write_; }
  // Entries left out that are told of, with all they hold.
  std::uint64_t left_out() const { return left_out_; }
  // Whether anything is made, written or told of at all.
  bool takes_anything() const { return takes_anything_; }
  // The entries placed whose names differ only in case from an earlier
  // name in their folder, in walk order, whatever the rule: where case is
  // ignored (on Windows), only one of each survives.
  const std::vector<std::uint32_t>& case_twins() const { return case_twins_; }

 private:
  class Planner;
  explicit ExtractionPlan(CaseRule rule) : case_rule_(rule) {}

  CaseRule case_rule_;
  std::vector<PlannedEntry> entries_;
  std::vector<std::vector<std::uint32_t>> named_;
  std::vector<std::size_t> missing_;
  std::vector<std::uint32_t> case_twins_;
  std::uint64_t files_to_write_ = 0;
  std::uint64_t bytes_to_write_ = 0;
  std::uint64_t left_out_ = 0;
  bool takes_anything_ = false;
};

}  // namespace kelvarin
