// The tree walk: every node reachable from the start node, in depth-first
// pre-order, creating folders and handing files to extract_entry. A folder
// it makes is filled under a temporary name and named when its subtree is
// done.
#pragma once

#include <cstdint>

#include "archive/extract_state.h"

namespace kelvarin {

// Walks `start` (node 0 for a run), its subtree and its own sibling chain,
// with an empty prefix. Returns 1 when everything reachable was visited,
// -1 when the walk had to stop (memory ran out). Failures of single entries
// are reported as they happen and do not stop the walk.
// When state.visit_mask is set, the nodes it leaves out are passed over
// (their own sibling chains are still followed).
int walk_node(ExtractState& state, std::uint32_t start);

}  // namespace kelvarin
