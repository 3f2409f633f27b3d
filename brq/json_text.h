// JSON string literals for names, which are bytes and may not be UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "archive/tree_walk.h"

namespace kelvarin::brq {

// Appends `bytes` to `out` as a JSON string literal: '"', '\' and control
// characters escaped, well-formed UTF-8 kept as it is, and each byte that
// is not part of well-formed UTF-8 replaced by U+FFFD. Returns false when a
// byte was replaced, that is when the literal does not give `bytes` back.
bool append_json_string(std::string& out, std::string_view bytes);

// The bytes as lowercase hexadecimal, two digits a byte: how a listing
// gives a path exactly when its JSON string could not.
std::string hex_bytes(std::string_view bytes);

// Appends the member `"key": "<path>"` to `out`, and `, "key_hex":
// "<bytes>"` where the string could not give the path's bytes back.
void append_json_path(std::string& out, std::string_view key, std::string_view path);

// How a document names an entry: `"index": 7, "path": "maps/a.map"` (with
// "path_hex" where needed), or for an entry without a name `"index": 7,
// "in": "maps"`, the folder it is in.
std::string json_entry_members(const EntryVisit& entry);

}  // namespace kelvarin::brq
