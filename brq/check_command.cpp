// brq check: everything the extraction would leave out or trip over, found
// without writing anything, and a summary of what the archive holds, as
// lines or as one JSON document.
#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <utility>
#include <vector>

#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/text_output.h"
#include "extract/archive_counts.h"

namespace kelvarin::brq {
namespace {

// The report in either form: "problem: ..." lines, the summary, notes and
// the verdict; or {"problems": [...], <summary>, "notes": [...],
// "verdict"}.
class Report {
 public:
  Report(TextOutput& out, bool json) : out_(out), json_(json) {
    if (!json_) return;
    document_.begin_object().key("problems").begin_array(JsonWriter::Items::one_per_line);
    out_.add(document_.take());
  }

  // A problem of `entry`, or of the whole archive when null.
  void problem(const EntryVisit* entry, const std::string& what) {
    ++problems_;
    if (!json_) {
      out_.add("problem: " + one_line(entry != nullptr ? entry_description(*entry, PathForm::listed) + ": " + what
                                                       : what) +
               "\n");
      return;
    }
    document_.begin_object();
    if (entry != nullptr) entry_members(document_, *entry);
    out_.add(document_.key("problem").string(what).end_object().take());
  }

  void summary(const ArchiveCounts& counts) {
    if (json_) {
      document_.end_array().key("entries").number(counts.entries).key("folders").number(counts.folders);
      document_.key("files").number(counts.files).key("bytes").number(counts.bytes);
      document_.key("unreachable").number(counts.unreachable).key("unused").number(counts.unused);
      out_.add(document_.key("notes").begin_array(JsonWriter::Items::one_per_line).take());
      summarised_ = true;
      return;
    }
    std::string text = "entries      " + std::to_string(counts.entries) + "\n" +
                       "folders      " + std::to_string(counts.folders) + "\n" +
                       "files        " + std::to_string(counts.files) + "\n" +
                       "total bytes  " + std::to_string(counts.bytes) + "\n";
    // Shown only where there are some, as brq pack leaves none.
    if (counts.unused > 0) text += "unused bytes " + std::to_string(counts.unused) + "\n";
    if (counts.unreachable > 0) {
      text += "unreachable  " + std::to_string(counts.unreachable) + " (linked from nowhere; never extracted)\n";
    }
    out_.add(text);
  }

  // A note, with the entries it concerns.
  void note(const std::string& what, const std::vector<JsonWriter>& entries) {
    if (!json_) {
      out_.add("note: " + what + "\n");
      return;
    }
    document_.begin_object().key("note").string(what).key("entries").begin_array();
    for (const JsonWriter& entry : entries) document_.value(entry);
    out_.add(document_.end_array().end_object().take());
  }

  // The last line: sound, N problems, or unusable.
  void verdict(bool usable) {
    const std::string word = !usable ? "unusable" : problems_ == 0 ? "sound" : "problems";
    if (!json_) {
      out_.add(word == "problems" ? std::to_string(problems_) + (problems_ == 1 ? " problem\n" : " problems\n")
                                  : word + "\n");
      return;
    }
    if (!summarised_) document_.end_array().key("notes").begin_array(JsonWriter::Items::one_per_line);
    out_.add(document_.end_array().key("verdict").string(word).end_document().take());
  }

  // `count` problems told in one line.
  void problems_together(std::uint64_t count, const std::string& what) {
    problem(nullptr, what);
    problems_ += count - 1;
  }

  std::uint64_t problems() const { return problems_; }

 private:
  TextOutput& out_;
  bool json_;
  JsonWriter document_;
  std::uint64_t problems_ = 0;
  bool summarised_ = false;
};

// Each problem the plan finds, and what the extraction would copy without
// complaint although no writer puts it there.
class Problems final : public PlanVisitor {
 public:
  // Unless `each`, the files the archive's end cuts off are counted, not
  // told one by one.
  Problems(const ArchiveIndex& index, Report& report, bool each)
      : index_(index), report_(report), each_(each) {}

  bool enter_folder(const EntryVisit&, const PlannedEntry&) override { return true; }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::left_out && !each_ && cut_off(index_, entry.entry, planned)) {
      ++cut_off_;
      return;
    }
    if (planned.fate == Fate::left_out) {
      report_.problem(&entry, left_out_reason(index_, entry.entry, planned, &entry) + inside_count(planned.inside()));
      return;
    }
    // Data inside the index are the index's own bytes: the archive is damaged.
    const std::int32_t size = index_.node(entry.entry).file_size;
    const std::uint64_t position = *index_.data_position(entry.entry);
    if (size > 0 && position < index_.index_end()) {
      report_.problem(&entry, "its data at position " + std::to_string(position) +
                                  " begin inside the index, which ends at " + std::to_string(index_.index_end()));
    }
    if (size > 0) data_.push_back({position, position + static_cast<std::uint64_t>(size), entry.entry});
  }

  // The files whose data overlap others': a writer may share identical
  // data, but so is a small archive made to write far more than it holds.
  std::unordered_set<std::uint32_t> overlapping() {
    std::sort(data_.begin(), data_.end());
    std::unordered_set<std::uint32_t> overlapping;
    std::uint64_t end = 0;  // the furthest end of the ranges before
    for (std::size_t i = 0; i < data_.size(); ++i) {
      const bool with_earlier = i > 0 && data_[i].start < end;
      const bool with_next = i + 1 < data_.size() && data_[i + 1].start < data_[i].end;
      if (with_earlier || with_next) overlapping.insert(data_[i].entry);
      end = std::max(end, data_[i].end);
    }
    return overlapping;
  }

  std::uint64_t cut_off_files() const { return cut_off_; }

 private:
  struct Range {
    std::uint64_t start, end;
    std::uint32_t entry;
    bool operator<(const Range& other) const {
      return std::make_pair(start, end) < std::make_pair(other.start, other.end);
    }
  };

  const ArchiveIndex& index_;
  Report& report_;
  bool each_;
  std::uint64_t cut_off_ = 0;
  std::vector<Range> data_;
};

// The entries of `wanted` as JSON objects, in walk order.
std::vector<JsonWriter> members_of(const ArchiveIndex& index, const ExtractionPlan& plan,
                                    const std::unordered_set<std::uint32_t>& wanted) {
  class Finder final : public PlanVisitor {
   public:
    explicit Finder(const std::unordered_set<std::uint32_t>& wanted) : wanted_(wanted) {}
    bool enter_folder(const EntryVisit& folder, const PlannedEntry&) override {
      visit(folder, {});
      return true;
    }
    void visit(const EntryVisit& entry, const PlannedEntry&) override {
      if (wanted_.count(entry.entry) == 0) return;
      JsonWriter json;
      entry_members(json.begin_object(), entry);
      found.push_back(std::move(json.end_object()));
    }
    std::vector<JsonWriter> found;

   private:
    const std::unordered_set<std::uint32_t>& wanted_;
  };
  Finder finder(wanted);
  plan.replay(index, finder);
  return std::move(finder.found);
}

}  // namespace

int check_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  const OpenedIndex opened = ArchiveIndex::open(archive);
  TextOutput out(streams);
  if (!opened.ok()) {
    // A file that can't be opened is no archive to report on.
    if (opened.error().step() == Error::Step::open) {
      print(streams.err, error_line(archive_problem(opened)));
    } else {
      Report report(out, line.json);
      report.problem(nullptr, archive_problem(opened));
      report.verdict(false);
    }
    out.finish();
    return kStatusUnusable;
  }
  const ArchiveIndex& index = opened.value();
  Result<ExtractionPlan> planned = make_plan(index, nullptr, kUsualCaseRule, streams);
  if (!planned.ok()) return kStatusUnusable;
  const ExtractionPlan& plan = planned.value();
  Report report(out, line.json);
  Problems problems(index, report, line.verbose || line.json);
  plan.replay(index, problems);
  if (problems.cut_off_files() > 0) {
    report.problems_together(problems.cut_off_files(), cut_off_message(index, problems.cut_off_files()));
  }
  report.summary(count_archive(index, plan));
  const std::unordered_set<std::uint32_t> overlapping = problems.overlapping();
  if (!overlapping.empty()) {
    report.note(std::to_string(overlapping.size()) + " files overlap others' data: an extraction writes " +
                    std::to_string(plan.bytes_to_write()) + " bytes from an archive of " +
                    std::to_string(index.archive_size()),
                line.json ? members_of(index, plan, overlapping) : std::vector<JsonWriter>{});
  }
  if (const std::vector<std::uint32_t>& twins = plan.case_twins(); !twins.empty()) {
    report.note(case_twins_note(twins.size()),
                line.json ? members_of(index, plan, {twins.begin(), twins.end()}) : std::vector<JsonWriter>{});
  }
  report.verdict(true);
  if (!out.finish()) return kStatusEntriesFailed;
  return report.problems() == 0 ? kStatusSuccess : kStatusEntriesFailed;
}

}  // namespace kelvarin::brq
