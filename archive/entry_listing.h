// The archive's entries in the order the extraction walks them, each with
// its path inside the archive. What `brq` lists, checks and selects from.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "archive/extract_state.h"

namespace kelvarin {

// The parent of an entry on the top level (node 0 and its sibling chain).
inline constexpr std::uint32_t kTopLevel = 0xFFFFFFFFu;

struct ListedEntry {
  std::uint32_t node = 0;
  std::uint32_t parent = kTopLevel;  // the folder holding it
  // Names from the top level down, joined by '/'. An empty name adds
  // nothing: the usual root has the empty path and its contents land in
  // the destination itself. Valid only during the visit.
  std::string_view path;
  // False when the entry's name can't be read from the pool; `path` is then
  // its folder's, and its contents are not visited (the walk skips them).
  bool name_readable = true;
};

// Whether the index checks let the entry's name be read from the pool.
bool name_readable(const EntryNode& node);

// Visits every node reachable from node 0 as walk_node does: depth-first
// pre-order, each chain in order, node 0's own sibling chain after its
// subtree. Expects load_index to have passed.
void for_each_entry(const ExtractState& state,
                    const std::function<void(const ListedEntry&)>& visit);

}  // namespace kelvarin
