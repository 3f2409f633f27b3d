// brq list: every entry in walk order, as text lines or one JSON document.
#include <cinttypes>
#include <cstdio>

#include "archive/index_loader.h"
#include "brq/archive_session.h"
#include "brq/commands.h"
#include "brq/entry_facts.h"
#include "brq/json_text.h"
#include "brq/utf8_text.h"

namespace kelvarin::brq {
namespace {

void append_text_line(std::string& out, const ListedEntry& entry, const EntryFacts& facts) {
  char numbers[64];
  std::string position = facts.position ? std::to_string(*facts.position) : "-";
  std::snprintf(numbers, sizeof numbers, "%-6s %12" PRId64 " %12s  ",
                facts.is_folder ? "folder" : "file", facts.size, position.c_str());
  out += numbers;
  out += entry.path.empty() ? "/" : one_line(entry.path);
  out += '\n';
}

void append_json_entry(std::string& out, const ListedEntry& entry, const EntryFacts& facts) {
  out += "  {\"path\": ";
  bool exact = append_json_string(out, entry.path);
  if (!exact) out += ", \"path_hex\": \"" + hex_bytes(entry.path) + "\"";
  out += facts.is_folder ? ", \"kind\": \"folder\"" : ", \"kind\": \"file\"";
  out += ", \"size\": " + std::to_string(facts.size);
  out += ", \"offset\": " + (facts.position ? std::to_string(*facts.position) : "null");
  out += ", \"index\": " + std::to_string(entry.node) + "}";
}

}  // namespace

int list_archive(const std::string& archive, bool json, const Streams& streams) {
  ExtractState state;
  std::string error;
  if (open_archive_index(state, archive, error) != Opened::loaded) {
    print_error(streams.err, error);
    return kStatusUnusable;
  }

  bool damaged = false;
  bool first = true;
  std::string chunk = json ? "{\"entries\": [\n" : "";
  for_each_entry(state, [&](const ListedEntry& entry) {
    const EntryNode& node = state.node_table[entry.node];
    if (node.problem != EntryProblem::none) {
      damaged = true;
      print_error(streams.err, "Damaged " + describe_entry(entry) + ": " +
                                   describe_problem(state, node));
    }
    // Without a name the entry has no path to list; the extraction skips
    // it and all it holds, and so does the listing.
    if (!entry.name_readable) return;
    const EntryFacts facts = facts_of(state, node);
    if (json) {
      if (!first) chunk += ",\n";
      append_json_entry(chunk, entry, facts);
    } else {
      append_text_line(chunk, entry, facts);
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
