// Names are bytes meant to be UTF-8; these tell which bytes are, after the
// Unicode standard's table of well-formed sequences.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelvarin {

// Length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a
// surrogate, beyond U+10FFFF, cut short).
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);

bool is_utf8(std::string_view text);

// The character at `at` and its length in bytes. A byte that doesn't begin
// a well-formed sequence is a character of its own, one byte long, with a
// value beyond Unicode's (0x110000 + the byte), so that it equals no real
// character.
char32_t utf8_character(std::string_view text, std::size_t at, std::size_t& length);

// Whether the character at `at` is a C1 control (U+0080 to U+009F), which
// a terminal may take for the start of a command.
bool is_c1_control(std::string_view text, std::size_t at);

}  // namespace kelvarin
