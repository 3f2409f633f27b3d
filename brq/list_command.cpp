// brq list: every entry in walk order, as text lines or one JSON document.
#include <cinttypes>
#include <cstdio>

#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "brq/json_text.h"
#include "extract/report.h"

namespace kelvarin::brq {
namespace {

void append_text_line(std::string& out, const std::string& path, const EntryFacts& facts) {
  char numbers[64];
  std::string position = facts.position ? std::to_string(*facts.position) : "-";
  std::snprintf(numbers, sizeof numbers, "%-6s %12" PRId64 " %12s  ",
                facts.is_folder ? "folder" : "file", facts.size, position.c_str());
  out += numbers;
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

int list_archive(const std::string& archive, bool json, const Streams& streams) {
  Result<ArchiveIndex> opened = ArchiveIndex::open(archive);
  if (!opened.ok()) {
    print(streams.err, error_line(why_unusable(opened.error(), archive)));
    return kStatusUnusable;
  }
  const ArchiveIndex& index = opened.value();

  bool damaged = false;
  bool first = true;
  std::string chunk = json ? "{\"entries\": [\n" : "";
  for_each_entry(index, [&](const EntryVisit& entry) {
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
    if (json) {
      if (!first) chunk += ",\n";
      append_json_entry(chunk, entry.entry, path, facts);
    } else {
      append_text_line(chunk, path, facts);
    }
    first = false;
    if (chunk.size() >= (1u << 16)) {
      print(streams.out, chunk);
      chunk.clear();
    }
  });
  if (json) chunk += first ? "]}\n" : "\n]}\n";
  print(streams.out, chunk);
  return damaged ? kStatusEntriesFailed : kStatusSuccess;
}

}  // namespace kelvarin::brq
