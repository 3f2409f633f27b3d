// brq cat: files' bytes to standard output, nothing else on it, in the
// order they are asked for.
#include <unordered_map>

#include "brq/commands.h"
#include "brq/progress_line.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kelvarin::brq {
namespace {

// How messages name the entries the request names ("entry 7, d/a"), by
// their listed paths, found by one replay of the plan the first time a
// message needs one.
class NamedEntries {
 public:
  NamedEntries(const ArchiveIndex& index, const ExtractionPlan& plan) : index_(index), plan_(plan) {}

  const std::string& description(std::uint32_t entry) {
    if (descriptions_.empty()) find();
    return descriptions_[entry];
  }

 private:
  void find() {
    class Finder final : public PlanVisitor {
     public:
      explicit Finder(std::unordered_map<std::uint32_t, std::string>& found) : found_(found) {}
      bool enter_folder(const EntryVisit& folder, const PlannedEntry&) override {
        note(folder);
        return true;
      }
      void visit(const EntryVisit& entry, const PlannedEntry&) override { note(entry); }

     private:
      void note(const EntryVisit& visit) {
        auto wanted = found_.find(visit.entry);
        if (wanted != found_.end()) wanted->second = entry_description(visit, PathForm::listed);
      }
      std::unordered_map<std::uint32_t, std::string>& found_;
    };
    for (const std::vector<std::uint32_t>& named : plan_.named()) {
      for (std::uint32_t entry : named) descriptions_.emplace(entry, "entry " + std::to_string(entry));
    }
    Finder finder(descriptions_);
    plan_.replay(index_, finder);
  }

  const ArchiveIndex& index_;
  const ExtractionPlan& plan_;
  std::unordered_map<std::uint32_t, std::string> descriptions_;
};

}  // namespace

int cat_files(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> opened = open_index(archive, streams);
  if (!opened.ok()) return kStatusUnusable;
  const ArchiveIndex& index = opened.value();
  const SelectionRequest request = selection_request(line, 1);
  // Read to standard output, no folder takes the names.
  Result<ExtractionPlan> planned = make_plan(index, &request, CaseRule::exact(), streams);
  if (!planned.ok()) return kStatusUnusable;
  const ExtractionPlan& plan = planned.value();

  // The files written are those an extraction leaves: of a name held
  // twice, the later file.
  ProgressTotals totals;
  for (const std::vector<std::uint32_t>& named : plan.named()) {
    for (std::uint32_t entry : named) {
      if (plan[entry].fate != Fate::file) continue;
      ++totals.files;
      totals.bytes += static_cast<std::uint64_t>(index.node(entry).file_size);
    }
  }
  // The bytes themselves on a terminal would scramble with the line.
  ProgressLine progress(streams.err,
                        progress_enabled(line.progress, platform::is_terminal(streams.err),
                                         platform::is_terminal(streams.out)),
                        totals, line.progress == ProgressChoice::always);
  auto fail = [&](const std::string& message) {
    progress.clear();
    print(streams.err, error_line(message));
  };

  NamedEntries named(index, plan);
  bool failed = false;
  std::vector<char> buffer;
  for (std::size_t i = 0; i < request.paths.size(); ++i) {
    const std::string& path = request.paths[i];
    if (plan.named()[i].empty()) {
      fail(nothing_named(path, archive));
      failed = true;
      continue;
    }
    bool any_file = false;
    for (std::uint32_t entry : plan.named()[i]) {
      const PlannedEntry& planned_entry = plan[entry];
      if (planned_entry.fate == Fate::left_out) {
        fail((planned_entry.refusal == Refusal::damaged ? "Damaged " : "Skipping ") + named.description(entry) +
             ": " + left_out_reason(index, entry, planned_entry) + inside_count(planned_entry.inside()));
        failed = true;
        any_file = true;
        continue;
      }
      // A pattern may name folders on the way to its files: they hold no
      // bytes of their own. A file replaced by a later one of its name is
      // not what an extraction leaves.
      if (!planned_entry.written()) continue;
      any_file = true;
      if (planned_entry.fate == Fate::replaced) continue;
      const auto length = static_cast<std::uint64_t>(index.node(entry).file_size);
      progress.file_started(length);
      Error written;
      const Error read = platform::read_range(index.archive(), *index.data_position(entry), length, buffer,
                                              [&](const char* bytes, std::size_t chunk) {
                                                written = platform::write_stream(streams.out, {bytes, chunk});
                                                progress.advance(chunk);
                                                return written;
                                              });
      if (!written.ok()) {
        if (!platform::reader_gone(written)) fail("Unable to write to standard output: " + cause_of(written));
        progress.finish();
        return kStatusEntriesFailed;
      }
      if (!read.ok()) {
        fail("Unable to read the data of " + named.description(entry) + ": " +
             (read.is_ended_early() ? std::string("the archive ends before its last byte") : cause_of(read)));
        failed = true;
      }
    }
    if (!any_file) {
      fail(path + " in " + archive + " is a folder, not a file");
      failed = true;
    }
  }
  const Error flushed = platform::flush_stream(streams.out);
  if (!flushed.ok() && !platform::reader_gone(flushed)) {
    fail("Unable to write to standard output: " + cause_of(flushed));
    failed = true;
  }
  progress.finish();
  return failed ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
