// Names are bytes meant to be UTF-8; these helpers tell which bytes are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvarin::brq {

// Length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a
// surrogate, beyond U+10FFFF, cut short).
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);

bool is_utf8(std::string_view text);

}  // namespace kelvarin::brq
