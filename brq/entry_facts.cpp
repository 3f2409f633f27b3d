// Facts about an entry, shared by list and check.
#include "brq/entry_facts.h"

namespace kelvarin::brq {

EntryFacts facts_of(const ExtractState& state, const EntryNode& node) {
  EntryFacts facts;
  facts.is_folder = node.kind == NODE_DIRECTORY;
  if (facts.is_folder) return facts;
  facts.size = state.size_table[static_cast<std::size_t>(node.entry_index)].file_size;
  if (node.file_ordinal < state.offset_count) {
    facts.position = data_position(state.offset_table[node.file_ordinal]);
  }
  return facts;
}

std::string describe_entry(const ListedEntry& entry) {
  std::string text = "entry " + std::to_string(entry.node);
  if (entry.name_readable) return text + ", " + (entry.path.empty() ? "/" : std::string(entry.path));
  if (entry.parent == kTopLevel) return text + " in the top level";
  return text + " in " + (entry.path.empty() ? "/" : std::string(entry.path));
}

}  // namespace kelvarin::brq
