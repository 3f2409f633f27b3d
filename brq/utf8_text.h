// Names are bytes meant to be UTF-8; these helpers tell which bytes are
// and make a name safe to print as part of one line.
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

// `text` with each control character shown as '?', so that a name holding
// a line end can't split a line of output in two.
std::string one_line(std::string_view text);

}  // namespace kelvarin::brq
