// Choosing part of an archive to extract: the entries a user names by their
// paths inside the archive, with everything below them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "archive/extract_state.h"

namespace kelvarin {

// A path as a user may type it, in the form entry paths have: separators
// '/', none leading, trailing or doubled ("/maps//a.dat/" is "maps/a.dat").
std::string normalise_entry_path(std::string_view path);

// Fills state.visit_mask so that walk_node visits the entries `paths` name
// (every entry of that path), their subtrees and the folders leading to
// them, and nothing else. Returns the paths, as given, that name no entry.
// Expects load_index to have passed.
std::vector<std::string> select_entries(ExtractState& state, const std::vector<std::string>& paths);

// Whether select_entries chose anything at all.
bool anything_selected(const ExtractState& state);

}  // namespace kelvarin
