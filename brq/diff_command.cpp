// brq diff: what changed from one archive or folder to another, path by
// path, in the trees their extractions would leave (a folder is taken as
// an archive of it would be). Both sides are collected into path-sorted
// lists and merged; bytes are read only for files of the same size at the
// same path.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/text_output.h"
#include "packing/folder_source.h"
#include "platform/files.h"

namespace kelvarin::brq {
namespace {

constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

// A folder or file as the extraction leaves it.
struct Record {
  std::string path;
  bool is_folder = false;
  std::uint64_t size = 0;
  std::uint64_t sequence = 0;         // in walk order
  std::uint32_t entry = 0;            // an archive's
  const SourceNode* node = nullptr;   // a folder's
};

// Paths in tree order: a folder's entries right after it, before any name
// that merely begins with the folder's name ("a", "a/b", "a.txt"). A name
// holds no zero byte, so '/' compares as one.
bool tree_order(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const auto rank = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c) + 1; };
    return rank(a[i]) < rank(b[i]);
  }
  return a.size() < b.size();
}

// Where a file's bytes are read from.
struct Data {
  platform::FileHandle opened;  // a folder's file, opened for the comparison
  const platform::FileHandle* file = nullptr;
  std::uint64_t position = 0;
};

// One operand: its folders and files, and the bytes of each file.
class Side {
 public:
  explicit Side(std::string name) : name_(std::move(name)) {}
  virtual ~Side() = default;

  const std::string& name() const { return name_; }
  const std::vector<Record>& records() const { return records_; }

  // Collects the records, in tree order. False when something could not be
  // collected, and so not compared: each is named on `err`.
  bool collect(const Streams& streams) {
    const bool sound = add_records(streams);
    std::stable_sort(records_.begin(), records_.end(),
                     [](const Record& a, const Record& b) { return tree_order(a.path, b.path); });
    return sound;
  }

  virtual Error open(const Record& file, Data& data) = 0;

 protected:
  virtual bool add_records(const Streams& streams) = 0;

  std::string name_;
  std::vector<Record> records_;
};

// An archive: the folders and files its extraction leaves, each once (of a
// file name held twice the later file, of a folder name the first folder);
// what the extraction leaves out is named as trouble.
class ArchiveSide final : public Side, private PlanVisitor {
 public:
  ArchiveSide(std::string name, ArchiveIndex index) : Side(std::move(name)), index_(std::move(index)) {}

  Error open(const Record& file, Data& data) override {
    data.file = &index_.archive();
    data.position = *index_.data_position(file.entry);
    return {};
  }

 private:
  bool add_records(const Streams& streams) override {
    // Compared as they are: no folder here takes their names.
    Result<ExtractionPlan> plan = make_plan(index_, nullptr, CaseRule::exact(), streams);
    if (!plan.ok()) return false;
    streams_ = &streams;
    plan.value().replay(index_, *this);
    return sound_;
  }

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override {
    if (planned.fate == Fate::folder) add(folder);
    return true;
  }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::file) {
      add(entry);
      return;
    }
    if (planned.fate != Fate::left_out) return;
    sound_ = false;
    const std::string where = entry_description(entry, PathForm::listed) + " in " + name_ + ": ";
    print(streams_->err,
          error_line(planned.refusal == Refusal::damaged
                         ? "Damaged " + where + describe_damage(index_, entry.entry) + inside_count(planned.inside())
                         : "Skipping " + where + left_out_reason(index_, entry.entry, planned, &entry) +
                               inside_count(planned.inside())));
  }

  void add(const EntryVisit& visit) {
    const std::int32_t size = index_.node(visit.entry).file_size;
    records_.push_back({listed_path(visit), visit.is_folder, visit.is_folder ? 0 : static_cast<std::uint64_t>(size),
                        records_.size(), visit.entry, nullptr});
  }

  ArchiveIndex index_;
  const Streams* streams_ = nullptr;
  bool sound_ = true;
};

// A folder, as an archive of it would be (what brq pack stores, nothing
// followed): what pack would leave out is named as trouble, and each file
// read is checked to be the one scanned.
class FolderSide final : public Side {
 public:
  FolderSide(std::string name, platform::Folder folder)
      : Side(name), files_(std::move(folder), std::move(name)) {}

  Error open(const Record& file, Data& data) override {
    Error opened = files_.open(*file.node, data.opened);
    data.file = &data.opened;
    data.position = 0;
    return opened;
  }

 private:
  bool add_records(const Streams& streams) override {
    ScanReport report;
    Result<SourceNode> scanned = files_.scan({false, false}, report);
    if (!scanned.ok()) {
      print(streams.err, error_line("Unable to read " + name_ + ": " + cause_of(scanned.error())));
      return false;
    }
    // Found a folder at a time, the last first: told in tree order.
    std::stable_sort(report.left_out.begin(), report.left_out.end(),
                     [](const Error& x, const Error& y) { return tree_order(x.path(), y.path()); });
    for (const Error& problem : report.left_out) {
      print(streams.err, error_line(problem.path() + ": " + cause_of(problem)));
    }
    root_ = std::move(scanned.value());
    // The root is the destination of an extraction: its entries' paths
    // begin with their own names.
    std::vector<std::pair<const SourceNode*, std::string>> pending{{&root_, ""}};
    while (!pending.empty()) {
      const auto [folder, path] = pending.back();
      pending.pop_back();
      for (const SourceNode& child : folder->children) {
        const std::string child_path = path.empty() ? child.name : path + "/" + child.name;
        records_.push_back({child_path, child.is_folder, child.size, records_.size(), 0, &child});
        if (child.is_folder) pending.emplace_back(&child, child_path);
      }
    }
    return report.left_out.empty();
  }

  FolderSource files_;
  SourceNode root_;
};

// The operand as a folder where it is one, else as an archive; null, once
// said on `err`, when it is neither.
std::unique_ptr<Side> open_side(const std::string& operand, const Streams& streams) {
  platform::Folder folder;
  if (platform::open_folder(operand, folder).ok()) return std::make_unique<FolderSide>(operand, std::move(folder));
  Result<ArchiveIndex> index = open_index(operand, streams);
  if (!index.ok()) return nullptr;
  return std::make_unique<ArchiveSide>(operand, std::move(index.value()));
}

// Whether two files of the same size hold the same bytes; a read that
// fails is trouble, with its cause.
bool same_bytes(Side& a, const Record& file_a, Side& b, const Record& file_b, std::vector<char>& buffer_a,
                std::vector<char>& buffer_b, Error& failure) {
  Data data_a, data_b;
  failure = a.open(file_a, data_a);
  if (failure.ok()) failure = b.open(file_b, data_b);
  if (!failure.ok()) return false;
  std::uint64_t done = 0;
  bool same = true;
  buffer_b.resize(platform::kCopyChunk);
  failure = platform::read_range(
      *data_a.file, data_a.position, file_a.size, buffer_a, [&](const char* bytes, std::size_t chunk) {
        std::size_t got = 0;
        Error read = platform::read_at(*data_b.file, data_b.position + done, buffer_b.data(), chunk, got);
        if (read.ok() && got < chunk) read = Error::of_kind(Error::Kind::ended_early, "", Error::Step::read);
        if (!read.ok()) return read;
        done += chunk;
        same = std::memcmp(bytes, buffer_b.data(), chunk) == 0;
        // A difference found: nothing more to read.
        return same ? Error{} : Error::because("differs");
      });
  if (!same) failure = {};
  if (failure.is_ended_early()) failure = Error::because("one side ends before the file's last byte");
  return same && failure.ok();
}

struct Change {
  char mark;  // '-', '+', 'M', 'O'
  std::string path;
  bool is_folder = false;  // on one side only
  // A folder on one side only, told in one line with how many entries it
  // holds; -1 for any other change.
  std::int64_t entries = -1;
};

const char* change_name(char mark) {
  switch (mark) {
    case '-':
      return "removed";
    case '+':
      return "added";
    case 'M':
      return "modified";
    default:
      return "order";
  }
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The change of the record at `at`, on one side only; unless every entry
// is to be told, a folder's entries go with it, and `at` moves past them.
Change one_side(char mark, const std::vector<Record>& records, std::vector<Record>::const_iterator& at, bool all) {
  Change change{mark, at->path, at->is_folder};
  ++at;
  if (all || !change.is_folder) return change;
  const std::string below = change.path + "/";
  change.entries = 0;
  for (; at != records.end() && at->path.starts_with(below); ++at) ++change.entries;
  return change;
}

bool print_changes(const std::vector<Change>& changes, bool json, const Streams& streams) {
  TextOutput out(streams);
  JsonWriter document;
  if (json) {
    document.begin_object().key("changes").begin_array(JsonWriter::Items::one_per_line_open);
    out.add(document.take());
  }
  for (const Change& change : changes) {
    std::string text;
    if (json) {
      document.begin_object().key("change").string(change_name(change.mark)).path("path", change.path);
      if (change.entries >= 0) document.key("entries").number(change.entries);
      text = document.end_object().take();
    } else {
      text = std::string(1, change.mark) + " " + (change.path.empty() ? std::string("/") : one_line(change.path));
      if (change.is_folder) text += "/";
      if (change.entries >= 0) text += entries_text(static_cast<std::uint64_t>(change.entries));
      text += "\n";
    }
    out.add(text);
  }
  if (json) out.add(document.end_array().end_document().take());
  return out.finish();
}

}  // namespace

int diff_archives(const CommandLine& line, const Streams& streams) {
  std::unique_ptr<Side> a = open_side(line.operands[0], streams);
  std::unique_ptr<Side> b = open_side(line.operands[1], streams);
  if (a == nullptr || b == nullptr) return kTrouble;
  bool trouble = !a->collect(streams);
  trouble = !b->collect(streams) || trouble;

  std::vector<Change> changes;
  std::map<std::string, std::vector<std::pair<std::uint64_t, std::uint64_t>>> shared_by_folder;
  std::vector<char> buffer_a, buffer_b;
  const std::vector<Record>& records_a = a->records();
  const std::vector<Record>& records_b = b->records();
  auto in_a = records_a.begin();
  auto in_b = records_b.begin();
  while (in_a != records_a.end() || in_b != records_b.end()) {
    if (in_b == records_b.end() || (in_a != records_a.end() && tree_order(in_a->path, in_b->path))) {
      changes.push_back(one_side('-', records_a, in_a, line.all));
      continue;
    }
    if (in_a == records_a.end() || tree_order(in_b->path, in_a->path)) {
      changes.push_back(one_side('+', records_b, in_b, line.all));
      continue;
    }
    bool modified = in_a->is_folder != in_b->is_folder;
    if (!modified && !in_a->is_folder) {
      modified = in_a->size != in_b->size;
      Error failure;
      if (!modified && !same_bytes(*a, *in_a, *b, *in_b, buffer_a, buffer_b, failure)) {
        if (failure.ok()) {
          modified = true;
        } else {
          trouble = true;
          print(streams.err, error_line("Unable to compare " + in_a->path + ": " + cause_of(failure)));
        }
      }
    }
    if (modified) changes.push_back({'M', in_a->path});
    if (line.order && !in_a->path.empty()) {
      shared_by_folder[parent_of(in_a->path)].emplace_back(in_a->sequence, in_b->sequence);
    }
    ++in_a;
    ++in_b;
  }
  if (line.order) {
    for (auto& [folder, shared] : shared_by_folder) {
      std::sort(shared.begin(), shared.end());
      const bool in_order = std::is_sorted(shared.begin(), shared.end(), [](const auto& x, const auto& y) {
        return x.second < y.second;
      });
      if (!in_order) changes.push_back({'O', folder});
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& x, const Change& y) { return tree_order(x.path, y.path); });
  }
  if (!print_changes(changes, line.json, streams)) trouble = true;
  if (trouble) return kTrouble;
  return changes.empty() ? kSame : kDifferent;
}

}  // namespace kelvarin::brq
