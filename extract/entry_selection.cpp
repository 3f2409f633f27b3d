// Entry selection: matches the listing's paths against the requested ones
// and marks the nodes the walk is to visit.
#include "extract/entry_selection.h"

#include <algorithm>
#include <unordered_map>

#include "archive/entry_listing.h"

namespace kelvarin {
namespace {

// Marks of visit_mask: 0 pass over, kOnTheWay a folder leading to a chosen
// entry (created, but only its chosen contents visited), kChosen a chosen
// entry or something below one.
constexpr std::uint8_t kOnTheWay = 1;
constexpr std::uint8_t kChosen = 2;

}  // namespace

std::string normalise_entry_path(std::string_view path) {
  std::string normal;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) {
      if (!normal.empty()) normal += '/';
      normal.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return normal;
}

std::vector<std::string> select_entries(ExtractState& state, const std::vector<std::string>& paths) {
  std::unordered_map<std::string, bool> wanted;  // normal path -> found
  for (const std::string& path : paths) wanted.emplace(normalise_entry_path(path), false);

  std::vector<std::uint8_t>& mask = state.visit_mask;
  mask.assign(state.node_table.size(), 0);
  std::vector<std::uint32_t> parent_of(state.node_table.size(), kTopLevel);
  for_each_entry(state, [&](const ListedEntry& entry) {
    parent_of[entry.node] = entry.parent;
    if (entry.parent != kTopLevel && mask[entry.parent] == kChosen) {
      mask[entry.node] = kChosen;
      return;
    }
    if (!entry.name_readable) return;
    auto match = wanted.find(std::string(entry.path));
    if (match == wanted.end()) return;
    match->second = true;
    mask[entry.node] = kChosen;
    for (std::uint32_t up = entry.parent; up != kTopLevel && mask[up] == 0; up = parent_of[up]) {
      mask[up] = kOnTheWay;
    }
  });

  std::vector<std::string> missing;
  for (const std::string& path : paths) {
    if (!wanted[normalise_entry_path(path)]) missing.push_back(path);
  }
  return missing;
}

bool anything_selected(const ExtractState& state) {
  return std::any_of(state.visit_mask.begin(), state.visit_mask.end(),
                     [](std::uint8_t mark) { return mark != 0; });
}

}  // namespace kelvarin
