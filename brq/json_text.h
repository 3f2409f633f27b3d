// JSON string literals for names, which are bytes and may not be UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kelvarin::brq {

// Appends `bytes` to `out` as a JSON string literal: '"', '\' and control
// characters escaped, well-formed UTF-8 kept as it is, and each byte that
// is not part of well-formed UTF-8 replaced by U+FFFD. Returns false when a
// byte was replaced, that is when the literal does not give `bytes` back.
bool append_json_string(std::string& out, std::string_view bytes);

// The bytes as lowercase hexadecimal, two digits a byte: how a listing
// gives a path exactly when its JSON string could not.
std::string hex_bytes(std::string_view bytes);

}  // namespace kelvarin::brq
