// Choosing part of an archive to extract: the entries a user names by their
// paths inside the archive, with everything below them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"

namespace kelvarin {

struct Selection {
  // By entry: 0 passed over, else visited (a chosen entry, something below
  // one, or a folder on the way to one).
  std::vector<std::uint8_t> marks;
  // The paths, as given, that name no entry.
  std::vector<std::string> missing;

  bool any() const;
};

// A path as a user may type it, in the form entry paths have: separators
// '/', none leading, trailing or doubled ("/maps//a.dat/" is "maps/a.dat").
std::string normalise_entry_path(std::string_view path);

// The entries `paths` name (every entry of that path), their subtrees and
// the folders leading to them.
Selection select_entries(const ArchiveIndex& index, const std::vector<std::string>& paths);

}  // namespace kelvarin
