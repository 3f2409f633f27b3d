// brq list: the entries in walk order, all or those the paths and patterns
// choose, as text lines with totals or one JSON document.
#include <cinttypes>
#include <cstdio>

#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "brq/json_text.h"
#include "extract/report.h"

namespace kelvarin::brq {
namespace {

// "1023", "1.5K", "12M": powers of 1024, as ls -h and du -h print them.
std::string human_size(std::int64_t size) {
  static constexpr const char kUnits[] = "KMGTPE";
  if (size < 1024) return std::to_string(size);
  double value = static_cast<double>(size);
  std::size_t unit = 0;
  while ((value /= 1024.0) >= 1024.0 && unit + 1 < sizeof kUnits - 1) ++unit;
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f%c" : "%.0f%c", value, kUnits[unit]);
  return text;
}

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
  return human ? human_size(size) : std::to_string(size);
}

void append_text_line(std::string& out, const std::string& path, const EntryFacts& facts,
                      bool human) {
  append_columns(out, facts.is_folder ? "folder" : "file", size_text(facts.size, human),
                 facts.position ? std::to_string(*facts.position) : "-");
  out += path.empty() ? "/" : one_line(path);
  out += '\n';
}

void append_json_entry(std::string& out, std::uint32_t entry, const std::string& path,
                       const EntryFacts& facts) {
  out += "  {\"path\": ";
  bool exact = append_json_string(out, path);
  if (!exact) out += ", \"path_hex\": \"" + hex_bytes(path) + "\"";
  out += facts.is_folder ? ", \"kind\": \"folder\"" : ", \"kind\": \"file\"";
  out += ", \"size\": " + std::to_string(facts.size);
  out += ", \"offset\": " + (facts.position ? std::to_string(*facts.position) : "null");
  out += ", \"index\": " + std::to_string(entry) + "}";
}

}  // namespace

int list_archive(const CommandLine& line, const Streams& streams) {
  const std::string& archive = line.operands[0];
  Result<ArchiveIndex> opened = open_index(archive, streams);
  if (!opened.ok()) return kStatusUnusable;
  const ArchiveIndex& index = opened.value();
  const SelectionRequest request = selection_request(line, 1);
  const bool filtered = !request.paths.empty() || !request.excludes.empty();
  Selection selection;
  if (filtered) selection = select_entries(index, request);
  for (const std::string& missing : selection.missing) {
    print(streams.err, error_line(nothing_named(missing, archive)));
  }

  bool damaged = false;
  bool first = true;
  Totals totals;
  std::string chunk = line.json ? "{\"entries\": [\n" : "";
  for_each_entry(index, [&](const EntryVisit& entry) {
    // Folders on the way to what was chosen are not listed themselves.
    if (filtered && selection.marks[entry.entry] != Selection::kChosen) return;
    const std::string problem = index.describe_problem(entry.entry);
    if (!problem.empty()) {
      damaged = true;
      print(streams.err, error_line("Damaged " + describe_entry(entry) + ": " + problem));
    }
    // Without a name the entry has no path to list; the extraction skips
    // it and all it holds, and so does the listing.
    if (!entry.name_readable) return;
    const EntryFacts facts = facts_of(index, entry.entry);
    const std::string path = listed_path(entry);
    if (line.json) {
      if (!first) chunk += ",\n";
      append_json_entry(chunk, entry.entry, path, facts);
    } else {
      append_text_line(chunk, path, facts, line.human);
    }
    first = false;
    ++(facts.is_folder ? totals.folders : totals.files);
    if (facts.size > 0) totals.bytes += facts.size;
    if (chunk.size() >= (1u << 16)) {
      print(streams.out, chunk);
      chunk.clear();
    }
  });
  if (line.json) {
    chunk += first ? "]}\n" : "\n]}\n";
  } else {
    append_columns(chunk, "total", size_text(totals.bytes, line.human), "-");
    chunk += std::to_string(totals.files) + (totals.files == 1 ? " file, " : " files, ") +
             std::to_string(totals.folders) + (totals.folders == 1 ? " folder\n" : " folders\n");
  }
  print(streams.out, chunk);
  return damaged || !selection.missing.empty() ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
