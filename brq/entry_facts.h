// What the listing and the check say about one entry: its kind, size and
// data position as the index gives them, and where a problem is named.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/entry_listing.h"

namespace kelvarin::brq {

struct EntryFacts {
  bool is_folder = false;
  std::int64_t size = 0;                  // as stored for a file; 0 for a folder
  std::optional<std::uint64_t> position;  // a file's first byte, when the offset table names it
};

EntryFacts facts_of(const ExtractState& state, const EntryNode& node);

// "entry 7, maps/a.dat" or, when its name can't be read, "entry 7 in maps"
// (or "in the top level"): how an entry is named in a problem line.
std::string describe_entry(const ListedEntry& entry);

}  // namespace kelvarin::brq
