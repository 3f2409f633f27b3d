// Planning: one walk of the index deciding what every entry becomes, with
// the selection matched on the way and every name looked up in the folder
// it lands in, under the destination's case rule, and the replay of the
// plan in the walk's order.
#include "extract/extraction_plan.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "names/name_table.h"

namespace kelvarin {
namespace {

// The destination, as the folder the top level lands in.
constexpr std::uint32_t kTop = 0xFFFFFFFEu;

}  // namespace

class ExtractionPlan::Planner final : public TreeVisitor {
 public:
  Planner(const ArchiveIndex& index, const SelectionRequest* request, ExtractionPlan& plan)
      : index_(index),
        plan_(plan),
        places_(index.entry_count(), plan.case_rule_),
        cases_(index.entry_count(), CaseRule::folding()) {
    plan_.entries_.resize(index.entry_count());
    if (request != nullptr && request->filters()) {
      matcher_.emplace(*request);
      plan_.named_.resize(request->paths.size());
      satisfied_.resize(request->paths.size());
    }
    open_.push_back({kTop, kTop, kTop, !matcher_ || matcher_->everything(), false, 0});
  }

  void finish() {
    for (std::size_t i = 0; i < satisfied_.size(); ++i) {
      if (!satisfied_[i]) plan_.missing_.push_back(i);
    }
    // Only what is made, written or told of counts: not a folder met on
    // the way that nothing inside was chosen from.
    for (std::uint32_t twin : twins_) {
      const PlannedEntry& planned = plan_.entries_[twin];
      if (planned.entered() || planned.written() || (planned.fate == Fate::left_out && planned.taken)) {
        plan_.case_twins_.push_back(twin);
      }
    }
  }

  bool enter_folder(const EntryVisit& folder) override {
    PlannedEntry& planned = plan_.entries_[folder.entry];
    const std::uint32_t holding = open_.back().output;
    if (!meet(folder)) return false;
    const bool taken = chosen(folder);
    if (refuse(folder, taken)) return false;
    std::uint32_t output = folder.entry;
    std::uint32_t folded = open_.back().folded;
    if (folder.name.empty()) {
      planned.fate = Fate::folded;
      output = holding;
    } else {
      folded = meet_case(folded, folder);
      const std::size_t slot = find(holding, folder.name);
      const std::uint32_t holder = places_.value(slot);
      if (holder != NameTable::kNone && plan_.entries_[holder].fate == Fate::file) {
        leave_out(folder, Refusal::file_holds_name, NameProblem::none, taken);
        return false;
      }
      if (holder != NameTable::kNone && plan_.entries_[holder].fate == Fate::folder) {
        planned.fate = Fate::merged;
        output = holder;
      } else {
        planned.fate = Fate::folder;
        places_.set(slot, holding, folder.entry);
      }
    }
    planned.place_entry = output;
    planned.taken = taken;
    open_.push_back({folder.entry, output, folded, taken, false, listed_.size()});
    return true;
  }

  void leave_folder(const EntryVisit& folder) override {
    const Open left = open_.back();
    open_.pop_back();
    listed_.resize(left.listed_length);
    // A folder nothing inside is chosen from is not made at all.
    if (!left.taken && !left.used) {
      plan_.entries_[folder.entry].fate = Fate::passed_over;
    } else {
      open_.back().used = true;
    }
  }

  void visit_file(const EntryVisit& file) override {
    const std::uint32_t holding = open_.back().output;
    if (!meet(file)) return;
    if (!chosen(file)) {
      plan_.entries_[file.entry].fate = Fate::passed_over;
      return;
    }
    if (refuse(file, true)) return;
    meet_case(open_.back().folded, file);
    const std::size_t slot = find(holding, file.name);
    const std::uint32_t holder = places_.value(slot);
    const Fate held = holder == NameTable::kNone ? Fate::unreached : plan_.entries_[holder].fate;
    PlannedEntry& planned = plan_.entries_[file.entry];
    if (held == Fate::folder) {
      leave_out(file, Refusal::folder_holds_name, NameProblem::none, true);
      return;
    }
    if (held == Fate::file && index_.name(holder) != file.name) {
      // One name in another case, where case is ignored: the earlier file
      // stays, as replacing it would leave the later one's bytes under the
      // earlier one's spelling, or race it for the name.
      leave_out(file, Refusal::case_twin, NameProblem::none, true);
      planned.place_entry = holder;
      return;
    }
    planned.fate = Fate::file;
    planned.taken = true;
    planned.place_entry = file.entry;
    if (held == Fate::file) {
      // The later file replaces the earlier one, in the first one's place.
      plan_.entries_[holder].fate = Fate::replaced;
      planned.place_entry = plan_.entries_[holder].place_entry;
    }
    places_.set(slot, holding, file.entry);
    open_.back().used = true;
    ++plan_.files_to_write_;
    plan_.bytes_to_write_ += static_cast<std::uint64_t>(index_.node(file.entry).file_size);
  }

  // Without a name it can't be named, only taken with its folder.
  void visit_unnamed(const EntryVisit& entry) override {
    if (!open_.back().taken) {
      plan_.entries_[entry.entry].fate = Fate::passed_over;
      return;
    }
    leave_out(entry, Refusal::damaged, NameProblem::none, true);
  }

 private:
  // A folder the walk is in; the bottom one stands for the destination.
  // The path of each as entries are listed is kept alongside ("a/b").
  struct Open {
    std::uint32_t entry;
    std::uint32_t output;  // the folder what it holds lands in
    std::uint32_t folded;  // the same, where case is ignored
    bool taken;            // chosen, and all it holds with it
    bool used;             // something inside is made, written or told of
    std::size_t listed_length;
  };

  // Meets an entry with a name: its listed path, and whether the selection
  // excludes it.
  bool meet(const EntryVisit& visit) {
    if (!matcher_) return true;
    listed_.resize(open_.back().listed_length);
    if (!visit.name.empty()) {
      if (!listed_.empty()) listed_ += '/';
      listed_ += visit.name;
    }
    if (!matcher_->excluded(visit.name, listed_)) return true;
    plan_.entries_[visit.entry].fate = Fate::passed_over;
    return false;
  }

  // Whether the selection takes the entry: named itself, or inside what is.
  bool chosen(const EntryVisit& visit) {
    if (!matcher_) return true;
    matcher_->naming(visit.name, listed_, requests_);
    for (std::size_t request : requests_) {
      plan_.named_[request].push_back(visit.entry);
      satisfied_[request] = true;
    }
    return open_.back().taken || !requests_.empty();
  }

  // Leaves the entry out, with all it holds, when it can't be taken.
  bool refuse(const EntryVisit& visit, bool taken) {
    const EntryNode& node = index_.node(visit.entry);
    const NameProblem name = name_problem(visit.name, !visit.is_folder);
    Refusal refusal = Refusal::none;
    if (name != NameProblem::none) {
      refusal = Refusal::bad_name;
    } else if (!visit.is_folder && node.problem != EntryProblem::none) {
      refusal = Refusal::damaged;
    } else if (visit.is_folder && visit.depth > kMaxFolderDepth) {
      refusal = Refusal::too_deep;
    } else if (visit.folder_path.size() + visit.name.size() > kMaxPathBytes) {
      refusal = Refusal::path_too_long;
    }
    if (refusal == Refusal::none) return false;
    leave_out(visit, refusal, name, taken);
    return true;
  }

  void leave_out(const EntryVisit& visit, Refusal refusal, NameProblem name, bool taken) {
    PlannedEntry& planned = plan_.entries_[visit.entry];
    planned.fate = Fate::left_out;
    planned.refusal = refusal;
    planned.name_problem = name;
    planned.inside_count = static_cast<std::uint32_t>(index_.each_inside(visit.entry, [&](std::uint32_t inside) {
      plan_.entries_[inside].fate = Fate::inside_left_out;
    }));
    // A folder not chosen itself is told of when a path asked for may lie
    // inside it: that path is answered by it, and what it holds is counted
    // as far as it was asked for.
    if (!taken && matcher_ && visit.is_folder && visit.name_readable) {
      matcher_->naming_below(listed_, requests_);
      for (std::size_t request : requests_) {
        plan_.named_[request].push_back(visit.entry);
        satisfied_[request] = true;
      }
      taken = !requests_.empty();
      if (taken) planned.inside_count = taken_inside(visit);
    }
    planned.taken = taken;
    if (!taken) return;
    open_.back().used = true;
    plan_.left_out_ += 1 + std::uint64_t{planned.inside()};
  }

  // How many entries inside the folder `visit` (at listed_) the selection
  // takes: those its paths name, with all they hold, less what it
  // excludes. One walk of what the folder holds, with paths as bounded as
  // the plan's own: what lies beyond the limits counts, as there, as one
  // with all it holds, where a path asked for may lie inside.
  std::uint32_t taken_inside(const EntryVisit& visit) {
    struct Pending {
      std::uint32_t entry;
      std::uint32_t depth;
      std::size_t path_length;  // of `path` for the folder holding it
      std::size_t folder_path_bytes;  // as EntryVisit::folder_path measures it
      bool taken;
    };
    std::string path = listed_;
    std::vector<Pending> pending;
    std::uint64_t count = 0;
    const std::uint32_t first = index_.node(visit.entry).child;
    if (first != kNoNode) {
      pending.push_back({first, visit.depth + 1, path.size(), visit.folder_path.size() + visit.name.size() + 1, false});
    }
    while (!pending.empty()) {
      const Pending at = pending.back();
      pending.pop_back();
      const EntryNode& node = index_.node(at.entry);
      if (node.next != kNoNode) {
        pending.push_back({node.next, at.depth, at.path_length, at.folder_path_bytes, at.taken});
      }
      // Without a name, it is taken only with its folder, and alone.
      if (!index_.name_readable(at.entry)) {
        count += at.taken ? 1 : 0;
        continue;
      }
      const std::string_view name = index_.name(at.entry);
      const bool folder = index_.is_folder(at.entry);
      path.resize(at.path_length);
      if (!name.empty()) {
        if (!path.empty()) path += '/';
        path += name;
      }
      if (matcher_->excluded(name, path)) continue;
      matcher_->naming(name, path, inside_requests_);
      bool taken = at.taken || !inside_requests_.empty();
      if ((folder && at.depth > kMaxFolderDepth) || at.folder_path_bytes + name.size() > kMaxPathBytes) {
        if (!taken && folder) {
          matcher_->naming_below(path, inside_requests_);
          taken = !inside_requests_.empty();
        }
        if (taken) count += 1 + index_.count_inside(at.entry);
        continue;
      }
      if (taken) ++count;
      if (folder && node.child != kNoNode) {
        pending.push_back({node.child, at.depth + 1, path.size(), at.folder_path_bytes + name.size() + 1, taken});
      }
    }
    return static_cast<std::uint32_t>(count);
  }

  // Meets a name where case is ignored, in the folder `folded` there:
  // notes one that differs only in case from an earlier one. Returns the
  // folder a folder's contents land in there.
  std::uint32_t meet_case(std::uint32_t folded, const EntryVisit& visit) {
    const std::size_t slot = cases_.find(folded, visit.name, [&](std::uint32_t entry) { return index_.name(entry); });
    const std::uint32_t first = cases_.value(slot);
    if (first == NameTable::kNone) {
      cases_.set(slot, folded, visit.entry);
      return visit.entry;
    }
    if (index_.name(first) != visit.name) twins_.push_back(visit.entry);
    return visit.is_folder && index_.is_folder(first) ? first : visit.entry;
  }

  std::size_t find(std::uint32_t folder, std::string_view name) const {
    // The table holds the last file of each name and the first folder.
    return places_.find(folder, name, [&](std::uint32_t entry) { return index_.name(entry); });
  }

  const ArchiveIndex& index_;
  ExtractionPlan& plan_;
  std::optional<SelectionMatcher> matcher_;
  NameTable places_;  // under the plan's rule
  NameTable cases_;   // the first entry of each name where case is ignored
  std::vector<std::uint32_t> twins_;
  std::vector<Open> open_;
  std::string listed_;
  std::vector<std::size_t> requests_;
  std::vector<std::size_t> inside_requests_;
  std::vector<bool> satisfied_;
};

Result<ExtractionPlan> ExtractionPlan::make(const ArchiveIndex& index, const SelectionRequest* request,
                                           CaseRule rule) {
  try {
    ExtractionPlan plan(rule);
    Planner planner(index, request, plan);
    walk_node(index, planner);
    planner.finish();
    plan.takes_anything_ = std::any_of(plan.entries_.begin(), plan.entries_.end(), [](const PlannedEntry& entry) {
      return entry.entered() || entry.written() || (entry.fate == Fate::left_out && entry.taken);
    });
    return plan;
  } catch (const std::bad_alloc&) {
    return Error::out_of_memory();
  }
}

std::uint64_t ExtractionPlan::taken_inside(const ArchiveIndex& index, std::uint32_t entry) const {
  std::uint64_t taken = 0;
  index.each_inside(entry, [&](std::uint32_t inside) {
    const PlannedEntry& planned = entries_[inside];
    if (planned.entered() || planned.written()) ++taken;
    if (planned.fate == Fate::left_out && planned.taken) taken += 1 + std::uint64_t{planned.inside()};
  });
  return taken;
}

void ExtractionPlan::replay(const ArchiveIndex& index, PlanVisitor& visitor) const {
  class Replay final : public TreeVisitor {
   public:
    Replay(const ExtractionPlan& plan, PlanVisitor& visitor) : plan_(plan), visitor_(visitor) {}
    bool enter_folder(const EntryVisit& folder) override {
      const PlannedEntry& planned = plan_[folder.entry];
      if (planned.entered()) return visitor_.enter_folder(folder, planned);
      shown(folder);
      return false;
    }
    void leave_folder(const EntryVisit& folder) override { visitor_.leave_folder(folder, plan_[folder.entry]); }
    void visit_file(const EntryVisit& file) override { shown(file); }
    void visit_unnamed(const EntryVisit& entry) override { shown(entry); }

   private:
    void shown(const EntryVisit& visit) {
      const PlannedEntry& planned = plan_[visit.entry];
      if (planned.written() || (planned.fate == Fate::left_out && planned.taken)) visitor_.visit(visit, planned);
    }
    const ExtractionPlan& plan_;
    PlanVisitor& visitor_;
  };
  Replay replay(*this, visitor);
  walk_node(index, replay);
}

}  // namespace kelvarin
