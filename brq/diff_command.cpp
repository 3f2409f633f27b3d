// brq diff: what changed from one archive to another, path by path, in the
// trees their extractions would leave. Both plans are walked into
// path-sorted lists and merged; bytes are read only for files of the same
// size at the same path.
#include <algorithm>
#include <cstring>
#include <map>

#include "brq/commands.h"
#include "brq/json_text.h"
#include "brq/text_output.h"
#include "platform/files.h"

namespace kelvarin::brq {
namespace {

constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

// A folder or file as the extraction leaves it.
struct Record {
  std::string path;
  std::uint32_t entry = 0;
  std::uint64_t sequence = 0;  // in walk order
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

struct Side {
  const std::string& name;
  const ArchiveIndex& index;
  std::vector<Record> records;
};

// The folders and files an extraction of one side leaves, each once (of a
// file name held twice the later file, of a folder name the first folder);
// what it leaves out is named on `err` as trouble: it can't be compared.
class Collect final : public PlanVisitor {
 public:
  Collect(Side& side, const Streams& streams) : side_(side), streams_(streams) {}

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
    const std::string where = entry_description(entry, PathForm::listed) + " in " + side_.name + ": ";
    print(streams_.err,
          error_line(planned.refusal == Refusal::damaged
                         ? "Damaged " + where + describe_damage(side_.index, entry.entry) + inside_count(planned.inside())
                         : "Skipping " + where + left_out_reason(side_.index, entry.entry, planned, &entry) +
                               inside_count(planned.inside())));
  }

  bool sound() const { return sound_; }

 private:
  void add(const EntryVisit& visit) { side_.records.push_back({listed_path(visit), visit.entry, sequence_++}); }

  Side& side_;
  const Streams& streams_;
  std::uint64_t sequence_ = 0;
  bool sound_ = true;
};

// Whether the side's plan could be made and all of it compared.
bool collect(Side& side, const Streams& streams) {
  Result<ExtractionPlan> plan = make_plan(side.index, nullptr, streams);
  if (!plan.ok()) return false;
  Collect collect(side, streams);
  plan.value().replay(side.index, collect);
  std::stable_sort(side.records.begin(), side.records.end(),
                   [](const Record& a, const Record& b) { return tree_order(a.path, b.path); });
  return collect.sound();
}

// Whether two files of the same size hold the same bytes; a read that
// fails is trouble, with its cause.
bool same_bytes(const Side& a, std::uint32_t entry_a, const Side& b, std::uint32_t entry_b,
                std::vector<char>& buffer_a, std::vector<char>& buffer_b, Error& failure) {
  const auto length = static_cast<std::uint64_t>(a.index.node(entry_a).file_size);
  const std::uint64_t position_b = *b.index.data_position(entry_b);
  std::uint64_t done = 0;
  bool same = true;
  buffer_b.resize(platform::kCopyChunk);
  failure = platform::read_range(
      a.index.archive(), *a.index.data_position(entry_a), length, buffer_a, [&](const char* bytes, std::size_t chunk) {
        std::size_t got = 0;
        Error read = platform::read_at(b.index.archive(), position_b + done, buffer_b.data(), chunk, got);
        if (read.ok() && got < chunk) read = Error::of_kind(Error::Kind::ended_early, "", Error::Step::read);
        if (!read.ok()) return read;
        done += chunk;
        same = std::memcmp(bytes, buffer_b.data(), chunk) == 0;
        // A difference found: nothing more to read.
        return same ? Error{} : Error::because("differs");
      });
  if (!same) failure = {};
  if (failure.is_ended_early()) failure = Error::because("an archive ends before the file's last byte");
  return same && failure.ok();
}

struct Change {
  char mark;  // '-', '+', 'M', 'O'
  std::string path;
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

bool print_changes(const std::vector<Change>& changes, bool json, const Streams& streams) {
  TextOutput out(streams);
  if (json) out.add("{\"changes\": [\n");
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const Change& change = changes[i];
    std::string text;
    if (json) {
      text = std::string(i == 0 ? "" : ",\n") + "  {\"change\": \"" + change_name(change.mark) + "\", \"path\": ";
      if (!append_json_string(text, change.path)) text += ", \"path_hex\": \"" + hex_bytes(change.path) + "\"";
      text += "}";
    } else {
      text = std::string(1, change.mark) + " " + (change.path.empty() ? std::string("/") : one_line(change.path)) + "\n";
    }
    out.add(text);
  }
  if (json) out.add(changes.empty() ? "]}\n" : "\n]}\n");
  return out.finish();
}

}  // namespace

int diff_archives(const CommandLine& line, const Streams& streams) {
  const std::string& name_a = line.operands[0];
  const std::string& name_b = line.operands[1];
  Result<ArchiveIndex> opened_a = open_index(name_a, streams);
  Result<ArchiveIndex> opened_b = open_index(name_b, streams);
  if (!opened_a.ok() || !opened_b.ok()) return kTrouble;
  Side a{name_a, opened_a.value(), {}};
  Side b{name_b, opened_b.value(), {}};
  bool trouble = !collect(a, streams);
  trouble = !collect(b, streams) || trouble;

  std::vector<Change> changes;
  std::map<std::string, std::vector<std::pair<std::uint64_t, std::uint64_t>>> shared_by_folder;
  std::vector<char> buffer_a, buffer_b;
  auto in_a = a.records.begin();
  auto in_b = b.records.begin();
  while (in_a != a.records.end() || in_b != b.records.end()) {
    if (in_b == b.records.end() || (in_a != a.records.end() && tree_order(in_a->path, in_b->path))) {
      changes.push_back({'-', (in_a++)->path});
      continue;
    }
    if (in_a == a.records.end() || tree_order(in_b->path, in_a->path)) {
      changes.push_back({'+', (in_b++)->path});
      continue;
    }
    const bool folder_a = a.index.is_folder(in_a->entry);
    const bool folder_b = b.index.is_folder(in_b->entry);
    bool modified = folder_a != folder_b;
    if (!modified && !folder_a) {
      modified = a.index.node(in_a->entry).file_size != b.index.node(in_b->entry).file_size;
      Error failure;
      if (!modified && !same_bytes(a, in_a->entry, b, in_b->entry, buffer_a, buffer_b, failure)) {
        if (failure.ok()) {
          modified = true;
        } else {
          trouble = true;
          print(streams.err, error_line("Unable to compare " + in_a->path + ": " + failure.cause()));
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
