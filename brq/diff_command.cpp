// brq diff: what changed from one archive to another, entry by entry and
// path by path. Both indexes are walked into path-sorted lists and merged;
// bytes are read only for files of the same size at the same path.
#include <algorithm>
#include <cstring>
#include <map>

#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "brq/json_text.h"
#include "extract/report.h"
#include "platform/platform.h"

namespace kelvarin::brq {
namespace {

constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

struct PathEntry {
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
  std::vector<PathEntry> entries;
};

// Every entry with a name, by path; where the archive holds a path twice,
// the later one, which is the one the extraction leaves.
bool collect(Side& side, const Streams& streams) {
  bool sound = true;
  std::uint64_t sequence = 0;
  for_each_entry(side.index, [&](const EntryVisit& visit) {
    const std::string problem = side.index.describe_problem(visit.entry);
    if (!problem.empty()) {
      sound = false;
      print(streams.err, error_line("Damaged " + describe_entry(visit) + " in " + side.name +
                                    ": " + problem));
      return;
    }
    if (visit.name_readable) side.entries.push_back({listed_path(visit), visit.entry, sequence++});
  });
  std::stable_sort(side.entries.begin(), side.entries.end(),
                   [](const PathEntry& a, const PathEntry& b) { return tree_order(a.path, b.path); });
  // Of equal paths the last one stays.
  auto kept = side.entries.begin();
  for (auto it = side.entries.begin(); it != side.entries.end(); ++it) {
    auto next = it + 1;
    if (next != side.entries.end() && next->path == it->path) continue;
    if (kept != it) *kept = std::move(*it);
    ++kept;
  }
  side.entries.erase(kept, side.entries.end());
  return sound;
}

// Whether two files of the same size hold the same bytes; a read that
// fails is trouble, with its cause.
bool same_bytes(const Side& a, std::uint32_t entry_a, const Side& b, std::uint32_t entry_b,
                std::vector<char>& buffer_a, std::vector<char>& buffer_b, std::string& failure) {
  std::uint64_t length = static_cast<std::uint64_t>(a.index.node(entry_a).file_size);
  std::uint64_t position_a = *a.index.data_position(entry_a);
  std::uint64_t position_b = *b.index.data_position(entry_b);
  buffer_a.resize(platform::kCopyChunk);
  buffer_b.resize(platform::kCopyChunk);
  while (length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer_a.size()));
    std::size_t got_a = 0;
    std::size_t got_b = 0;
    Error read = platform::read_at(a.index.archive(), position_a, buffer_a.data(), want, got_a);
    if (read.ok()) read = platform::read_at(b.index.archive(), position_b, buffer_b.data(), want, got_b);
    if (!read.ok() || got_a != want || got_b != want) {
      failure = read.ok() ? "an archive ends before the file's last byte" : read.cause();
      return false;
    }
    if (std::memcmp(buffer_a.data(), buffer_b.data(), want) != 0) return false;
    length -= want;
    position_a += want;
    position_b += want;
  }
  return true;
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

void print_changes(const std::vector<Change>& changes, bool json, const Streams& streams) {
  std::string out = json ? "{\"changes\": [\n" : "";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const Change& change = changes[i];
    if (json) {
      out += std::string(i == 0 ? "" : ",\n") + "  {\"change\": \"" + change_name(change.mark) +
             "\", \"path\": ";
      if (!append_json_string(out, change.path)) {
        out += ", \"path_hex\": \"" + hex_bytes(change.path) + "\"";
      }
      out += "}";
    } else {
      out += std::string(1, change.mark) + " " +
             (change.path.empty() ? std::string("/") : one_line(change.path)) + "\n";
    }
    if (out.size() >= (1u << 16)) {
      print(streams.out, out);
      out.clear();
    }
  }
  if (json) out += changes.empty() ? "]}\n" : "\n]}\n";
  print(streams.out, out);
}

}  // namespace

int diff_archives(const CommandLine& line, const Streams& streams) {
  const std::string& name_a = line.operands[0];
  const std::string& name_b = line.operands[1];
  Result<ArchiveIndex> opened_a = ArchiveIndex::open(name_a);
  Result<ArchiveIndex> opened_b = ArchiveIndex::open(name_b);
  bool unusable = false;
  for (const auto* opened : {&opened_a, &opened_b}) {
    if (opened->ok()) continue;
    const std::string& name = opened == &opened_a ? name_a : name_b;
    const std::string why = why_unusable(opened->error(), name);
    print(streams.err, error_line(opened->error().step() == Error::Step::open
                                      ? why
                                      : name + " is not a usable archive: " + why));
    unusable = true;
  }
  if (unusable) return kTrouble;
  Side a{name_a, opened_a.value(), {}};
  Side b{name_b, opened_b.value(), {}};
  bool trouble = !collect(a, streams);
  trouble = !collect(b, streams) || trouble;

  std::vector<Change> changes;
  std::map<std::string, std::vector<std::pair<std::uint64_t, std::uint64_t>>> shared_by_folder;
  std::vector<char> buffer_a, buffer_b;
  auto in_a = a.entries.begin();
  auto in_b = b.entries.begin();
  while (in_a != a.entries.end() || in_b != b.entries.end()) {
    if (in_b == b.entries.end() || (in_a != a.entries.end() && tree_order(in_a->path, in_b->path))) {
      changes.push_back({'-', (in_a++)->path});
      continue;
    }
    if (in_a == a.entries.end() || tree_order(in_b->path, in_a->path)) {
      changes.push_back({'+', (in_b++)->path});
      continue;
    }
    const bool folder_a = a.index.is_folder(in_a->entry);
    const bool folder_b = b.index.is_folder(in_b->entry);
    bool modified = folder_a != folder_b;
    if (!modified && !folder_a) {
      modified = a.index.node(in_a->entry).file_size != b.index.node(in_b->entry).file_size;
      std::string failure;
      if (!modified &&
          !same_bytes(a, in_a->entry, b, in_b->entry, buffer_a, buffer_b, failure)) {
        if (failure.empty()) {
          modified = true;
        } else {
          trouble = true;
          print(streams.err, error_line("Unable to compare " + one_line(in_a->path) + ": " + failure));
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
  print_changes(changes, line.json, streams);
  if (trouble) return kTrouble;
  return changes.empty() ? kSame : kDifferent;
}

}  // namespace kelvarin::brq
