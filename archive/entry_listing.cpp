// Walk-order traversal of the index with '/'-separated paths. Like the walk
// it keeps an explicit stack, so long chains and deep nestings are safe.
#include "archive/entry_listing.h"

#include <string>
#include <vector>

namespace kelvarin {

bool name_readable(const EntryNode& node) {
  return node.problem != EntryProblem::name_outside_pool &&
         node.problem != EntryProblem::name_unterminated &&
         node.problem != EntryProblem::name_too_long;
}

void for_each_entry(const ExtractState& state,
                    const std::function<void(const ListedEntry&)>& visit) {
  struct Pending {
    std::uint32_t node;
    std::uint32_t parent;
    std::size_t path_length;  // of the folder the node lies in
  };
  std::string path;
  std::vector<Pending> pending{{0, kTopLevel, 0}};
  while (!pending.empty()) {
    const Pending current = pending.back();
    pending.pop_back();
    const EntryNode& node = state.node_table[current.node];
    if (node.next != kNoNode) pending.push_back({node.next, current.parent, current.path_length});
    path.resize(current.path_length);

    ListedEntry entry{current.node, current.parent, {}, name_readable(node)};
    if (!entry.name_readable) {
      entry.path = path;
      visit(entry);
      continue;
    }
    std::string_view name = entry_name(state, node);
    if (!name.empty()) {
      if (!path.empty()) path += '/';
      path += name;
    }
    entry.path = path;
    visit(entry);
    if (node.kind == NODE_DIRECTORY && node.child != kNoNode) {
      pending.push_back({node.child, current.node, path.size()});
    }
  }
}

}  // namespace kelvarin
