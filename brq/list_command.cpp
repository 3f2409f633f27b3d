// brq list: the entries in walk order, all or those the paths and patterns
// choose, as text lines with totals or one JSON document. An entry the
// extraction would leave out is listed all the same, and named on standard
// error with why; what it holds is not walked.
#include <cinttypes>
#include <cstdio>

#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/text_output.h"

namespace kelvarin::brq {
namespace {

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::int64_t bytes = 0;
};

void append_columns(std::string& out, const char* kind, const std::string& size,
                    const std::string& position) {
  char columns[64];
  std::snprintf(columns, sizeof columns, "%-6s %12s %12s  ", kind, size.c_str(), position.c_str());
  out += columns;
}

std::string size_text(std::int64_t size, bool human) {
  return human && size >= 0 ? human_size(static_cast<std::uint64_t>(size)) : std::to_string(size);
}

class Listing final : public PlanVisitor {
 public:
  Listing(const ArchiveIndex& index, const CommandLine& line, const Streams& streams, TextOutput& out)
      : index_(index), line_(line), streams_(streams), out_(out) {
    if (line_.json) {
      json_.begin_object().key("entries").begin_array(JsonWriter::Items::one_per_line_open);
      out_.add(json_.take());
    }
  }

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override {
    // Folders on the way to what was chosen are not listed themselves.
    if (planned.taken) list(folder);
    return true;
  }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::left_out) {
      damaged_ = true;
      print(streams_.err, error_line(left_out_line(index_, entry, planned)));
    }
    // Without a name the entry has no path to list.
    if (entry.name_readable) list(entry);
  }

  void finish() {
    if (line_.json) {
      json_.end_array().end_document();
      out_.add(json_.take());
      return;
    }
    std::string last;
    append_columns(last, "total", size_text(totals_.bytes, line_.human), "-");
    last += std::to_string(totals_.files) + (totals_.files == 1 ? " file, " : " files, ") +
            std::to_string(totals_.folders) + (totals_.folders == 1 ? " folder\n" : " folders\n");
    out_.add(last);
  }

  bool damaged() const { return damaged_; }

 private:
  void list(const EntryVisit& entry) {
    const bool folder = entry.is_folder;
    const std::int64_t size = folder ? 0 : index_.node(entry.entry).file_size;
    const std::optional<std::uint64_t> position = index_.data_position(entry.entry);
    const std::string path = listed_path(entry);
    std::string chunk;
    if (line_.json) {
      json_.begin_object().path("path", path).key("kind").string(folder ? "folder" : "file");
      json_.key("size").number(size).key("offset");
      position ? json_.number(*position) : json_.null();
      json_.key("index").number(entry.entry).end_object();
      chunk = json_.take();
    } else {
      append_columns(chunk, folder ? "folder" : "file", size_text(size, line_.human),
                     position ? std::to_string(*position) : "-");
      chunk += path.empty() ? "/" : one_line(path);
      chunk += '\n';
    }
    out_.add(chunk);
    ++(folder ? totals_.folders : totals_.files);
    if (size > 0) totals_.bytes += size;
  }

  const ArchiveIndex& index_;
  const CommandLine& line_;
  const Streams& streams_;
  TextOutput& out_;
  Totals totals_;
  JsonWriter json_;
  bool damaged_ = false;
};

}  // namespace

int list_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  const SelectionRequest request = selection_request(line, 1);
  Result<ExtractionPlan> plan = make_plan(index.value(), &request, kUsualCaseRule, streams);
  if (!plan.ok()) return kStatusUnusable;
  for (std::size_t missing : plan.value().missing()) {
    print(streams.err, error_line(nothing_named(request.paths[missing], archive)));
  }
  TextOutput out(streams);
  Listing listing(index.value(), line, streams, out);
  plan.value().replay(index.value(), listing);
  listing.finish();
  if (!plan.value().case_twins().empty()) {
    print(streams.err, "note: " + case_twins_note(plan.value().case_twins().size()) + "\n");
  }
  const bool failed = !out.finish();
  return failed || listing.damaged() || !plan.value().missing().empty() ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
