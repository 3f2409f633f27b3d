// brq check: everything the extraction would leave out or trip over, found
// without writing anything, and a summary of what the archive holds.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "brq/commands.h"
#include "brq/text_output.h"

namespace kelvarin::brq {
namespace {

// Each problem the plan finds, and what the extraction would copy without
// complaint although no writer puts it there.
class Problems final : public PlanVisitor {
 public:
  Problems(const ArchiveIndex& index, TextOutput& out) : index_(index), out_(out) {}

  bool enter_folder(const EntryVisit&, const PlannedEntry&) override { return true; }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::left_out) {
      problem(entry, left_out_reason(index_, entry.entry, planned, &entry) + inside_count(planned.inside()));
      return;
    }
    // Data inside the index are the index's own bytes: the archive is damaged.
    const std::int32_t size = index_.node(entry.entry).file_size;
    const std::uint64_t position = *index_.data_position(entry.entry);
    if (size > 0 && position < index_.index_end()) {
      problem(entry, "its data at position " + std::to_string(position) + " begin inside the index, which ends at " +
                         std::to_string(index_.index_end()));
    }
    if (size > 0) data_.emplace_back(position, position + static_cast<std::uint64_t>(size));
  }

  std::uint64_t count() const { return count_; }

  // Files whose data overlap others': a writer may share identical data,
  // but so is a small archive made to write far more than it holds.
  std::uint64_t overlapping() {
    std::sort(data_.begin(), data_.end());
    std::uint64_t overlapping = 0;
    std::uint64_t end = 0;  // the furthest end of the ranges before
    for (std::size_t i = 0; i < data_.size(); ++i) {
      const bool with_earlier = i > 0 && data_[i].first < end;
      const bool with_next = i + 1 < data_.size() && data_[i + 1].first < data_[i].second;
      if (with_earlier || with_next) ++overlapping;
      end = std::max(end, data_[i].second);
    }
    return overlapping;
  }

 private:
  void problem(const EntryVisit& entry, const std::string& what) {
    ++count_;
    out_.add("problem: " + one_line(entry_description(entry, PathForm::listed) + ": " + what) + "\n");
  }

  const ArchiveIndex& index_;
  TextOutput& out_;
  std::uint64_t count_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> data_;  // [start, end) of each file's data
};

// Entries, folders, files and bytes of all the walk reaches, left out or not.
std::string summary(const ArchiveIndex& index, const ExtractionPlan& plan) {
  std::uint64_t folders = 0;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  for (std::uint32_t entry = 0; entry < index.entry_count(); ++entry) {
    if (plan[entry].fate == Fate::unreached) continue;
    if (index.is_folder(entry)) {
      ++folders;
      continue;
    }
    ++files;
    const std::int32_t size = index.node(entry).file_size;
    if (size > 0) bytes += static_cast<std::uint64_t>(size);
  }
  const std::uint64_t reachable = folders + files;
  std::string text = "entries      " + std::to_string(reachable) + "\n" +
                     "folders      " + std::to_string(folders) + "\n" +
                     "files        " + std::to_string(files) + "\n" +
                     "total bytes  " + std::to_string(bytes) + "\n";
  if (reachable < index.entry_count()) {
    text += "unreachable  " + std::to_string(index.entry_count() - reachable) +
            " (linked from nowhere; never extracted)\n";
  }
  return text;
}

}  // namespace

int check_archive(const std::string& archive, const Streams& streams) {
  Result<ArchiveIndex> opened = ArchiveIndex::open(archive);
  TextOutput out(streams);
  if (!opened.ok()) {
    if (opened.error().step() == Error::Step::open) {
      print(streams.err, error_line(archive_problem(opened.error())));
    } else {
      out.add("problem: " + one_line(archive_problem(opened.error())) + "\nunusable\n");
    }
    out.finish();
    return kStatusUnusable;
  }
  const ArchiveIndex& index = opened.value();
  Result<ExtractionPlan> plan = make_plan(index, nullptr, streams);
  if (!plan.ok()) return kStatusUnusable;
  Problems problems(index, out);
  plan.value().replay(index, problems);
  out.add(summary(index, plan.value()));
  if (const std::uint64_t overlapping = problems.overlapping()) {
    out.add("note: " + std::to_string(overlapping) + " files overlap others' data: an extraction writes " +
            std::to_string(plan.value().bytes_to_write()) + " bytes from an archive of " +
            std::to_string(index.archive_size()) + "\n");
  }
  const std::uint64_t count = problems.count();
  out.add(count == 0 ? "sound\n" : std::to_string(count) + (count == 1 ? " problem\n" : " problems\n"));
  if (!out.finish()) return kStatusEntriesFailed;
  return count == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
