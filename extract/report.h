// Every line the extraction prints goes through here, to the run's output.
#pragma once

#include <cstdint>
#include <string_view>

#include "archive/extract_state.h"

namespace kelvarin {

// Text exactly as given.
void print_text(ExtractState& state, std::string_view text);

// A file's line: "%s%s      FileSize: %ld\n" with its folder's relative
// path, its name and its size; or state.on_file's line when it is set.
void print_file_line(ExtractState& state, std::string_view dir_path, std::string_view name,
                     std::int32_t size);

// "ERROR: " + message as one line, and the run no longer ends with 0.
// Control characters (a name may hold a line end) print as '?', so that one
// failure is always one line. The line goes to state.on_error when set.
void report_error(ExtractState& state, std::string_view message);

}  // namespace kelvarin
