// Choosing part of an archive: the entries a user names by their paths
// inside the archive or by patterns, with everything below them, less what
// the exclusions name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_index.h"
#include "extract/entry_pattern.h"

namespace kelvarin {

struct SelectionRequest {
  // Paths or patterns (see entry_pattern.h); none chooses everything.
  std::vector<std::string> paths;
  // Patterns of entries to leave out, with all they hold. One without a
  // '/' is matched against each entry's name, wherever it stands ("*.wav");
  // one with a '/' against the whole path.
  std::vector<std::string> excludes;
  bool ignore_case = false;
};

struct Selection {
  static constexpr std::uint8_t kOnTheWay = 1;  // made, but only its chosen contents visited
  static constexpr std::uint8_t kChosen = 2;    // a chosen entry or something below one

  // By entry: 0 passed over, else visited: kChosen, or kOnTheWay for a
  // folder on the way to a chosen entry.
  std::vector<std::uint8_t> marks;
  // By path of the request: the entries it names itself, in walk order,
  // excluded ones left out.
  std::vector<std::vector<std::uint32_t>> named;
  // The paths, as given, that name no entry.
  std::vector<std::string> missing;

  bool any() const;
};

// The entries `request` chooses, found in one walk of the tree. A path
// with wildcards also names the entry whose path it is, as typed.
Selection select_entries(const ArchiveIndex& index, const SelectionRequest& request);

}  // namespace kelvarin
