// What the listing and the check say about entries: each entry in walk
// order, its kind, size and data position as the index gives them, and how
// a problem line names it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/tree_walk.h"

namespace kelvarin::brq {

// Calls `visit` for every entry the walk meets, folders before their
// contents; folders are always entered (their contents then follow).
void for_each_entry(const ArchiveIndex& index, const std::function<void(const EntryVisit&)>& visit);

struct EntryFacts {
  bool is_folder = false;
  std::int64_t size = 0;                  // as stored for a file; 0 for a folder
  std::optional<std::uint64_t> position;  // a file's first byte, when the offset table names it
};

EntryFacts facts_of(const ArchiveIndex& index, std::uint32_t entry);

// "entry 7, maps/a.dat" or, when its name can't be read, "entry 7 in maps"
// (or "in the top level"): how an entry is named in a problem line.
std::string describe_entry(const EntryVisit& visit);

}  // namespace kelvarin::brq
