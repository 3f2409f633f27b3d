// The handle's listing of the plan: each entry's path made again from the
// folders above it, and the lookup of a path, which keeps no strings: a
// hash of every listed path, confirmed against the index's names.
#include <algorithm>

#include "api/api_handle.h"

namespace {

// The hash of `text` going on from `hash`, one name between separators at
// a time, empty ones adding nothing: a path's hash goes on from its
// folder's. Keyed afresh for each handle, so that no archive can make its
// paths collide to slow every lookup down.
std::uint32_t hash_on(const kelvarin::KeyedHash& keyed, std::uint32_t hash, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('/'), text.size());
    if (end > 0) hash = static_cast<std::uint32_t>(keyed(hash, text.substr(0, end)));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return hash;
}

}  // namespace

kelvarin::EntryVisit kelvarin_archive::visit_at(std::size_t position, std::string& folder_path) const {
  const ListedEntry& listed = listing[position];
  // The folders above it, from it upwards, then their names top down.
  std::vector<std::uint32_t> above;
  above.reserve(listed.depth);
  for (std::uint32_t at = listed.folder; at != ListedEntry::kTop; at = listing[at].folder) above.push_back(at);
  folder_path.clear();
  for (auto at = above.rbegin(); at != above.rend(); ++at) {
    // A folder the walk entered has a readable name.
    folder_path.append(index->name(listing[*at].entry)).push_back('/');
  }
  const bool readable = index->name_readable(listed.entry);
  return {listed.entry,
          listed.depth,
          folder_path,
          readable ? index->name(listed.entry) : std::string_view(),
          index->is_folder(listed.entry),
          readable};
}

std::string kelvarin_archive::path_at(std::size_t position) const {
  std::string folder_path;
  return kelvarin::listed_path(visit_at(position, folder_path));
}

std::vector<std::uint32_t> kelvarin_archive::positions_of(std::string_view path) {
  if (paths.empty() && !listing.empty()) {
    // Each path's hash goes on from its folder's, kept by depth: in walk
    // order the last folder met one level up is the one an entry is in.
    std::vector<std::uint32_t> above;
    // Made apart, so that running out of memory half way leaves none.
    std::vector<PathKey> keys;
    keys.reserve(listing.size());
    for (std::uint32_t at = 0; at < listing.size(); ++at) {
      const ListedEntry& listed = listing[at];
      const std::uint32_t folder = listed.depth == 0 ? 0 : above[listed.depth - 1];
      const std::uint32_t here =
          index->name_readable(listed.entry) ? hash_on(path_hash, folder, index->name(listed.entry)) : folder;
      keys.push_back({here, at});
      if (index->is_folder(listed.entry) && (*plan)[listed.entry].entered()) {
        above.resize(listed.depth);
        above.push_back(here);
      }
    }
    std::sort(keys.begin(), keys.end(), [](const PathKey& a, const PathKey& b) {
      return a.hash != b.hash ? a.hash < b.hash : a.position < b.position;
    });
    paths = std::move(keys);
  }
  const std::uint32_t wanted = hash_on(path_hash, 0, path);
  auto at = std::lower_bound(paths.begin(), paths.end(), wanted,
                             [](const PathKey& key, std::uint32_t hash) { return key.hash < hash; });
  // Of the paths with this hash, in walk order, those that are it.
  std::vector<std::uint32_t> found;
  for (; at != paths.end() && at->hash == wanted; ++at) {
    if (path_at(at->position) == path) found.push_back(at->position);
  }
  return found;
}
