// The handle's listing of the plan: each entry's path made again from the
// folders above it, and the lookup of a path, which keeps no strings: a
// hash of every listed path, confirmed against the index's names.
#include <algorithm>

#include "api/api_handle.h"

namespace {

// FNV-1a, continued from `hash` over `bytes`.
std::uint32_t hash_on(std::uint32_t hash, std::string_view bytes) {
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 16777619u;
  }
  return hash;
}

constexpr std::uint32_t kEmptyHash = 2166136261u;

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

std::optional<std::uint32_t> kelvarin_archive::position_of(std::string_view path) {
  if (paths.empty() && !listing.empty()) {
    // Each path's hash goes on from its folder's, kept by depth: in walk
    // order the last folder met one level up is the one an entry is in.
    struct Above {
      std::uint32_t hash;
      bool named;  // its listed path is not empty
    };
    std::vector<Above> above;
    paths.reserve(listing.size());
    for (std::uint32_t at = 0; at < listing.size(); ++at) {
      const ListedEntry& listed = listing[at];
      const Above folder = listed.depth == 0 ? Above{kEmptyHash, false} : above[listed.depth - 1];
      const std::string_view name =
          index->name_readable(listed.entry) ? index->name(listed.entry) : std::string_view();
      Above here = folder;
      if (!name.empty()) {
        here = {hash_on(folder.named ? hash_on(folder.hash, "/") : folder.hash, name), true};
      }
      paths.push_back({here.hash, at});
      if (index->is_folder(listed.entry) && (*plan)[listed.entry].entered()) {
        above.resize(listed.depth);
        above.push_back(here);
      }
    }
    std::sort(paths.begin(), paths.end(), [](const PathKey& a, const PathKey& b) {
      return a.hash != b.hash ? a.hash < b.hash : a.position < b.position;
    });
  }
  const std::uint32_t wanted = hash_on(kEmptyHash, path);
  auto at = std::lower_bound(paths.begin(), paths.end(), wanted,
                             [](const PathKey& key, std::uint32_t hash) { return key.hash < hash; });
  // Of the paths with this hash, in walk order, the first that is it.
  for (; at != paths.end() && at->hash == wanted; ++at) {
    if (path_at(at->position) == path) return at->position;
  }
  return std::nullopt;
}
