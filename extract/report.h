// The lines the extraction prints, composed in one place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/tree_walk.h"

namespace kelvarin {

// A file's line, "%s%s      FileSize: %ld\n" with its printed folder path,
// its name and its size, into `line` (reused by the caller, so that a line
// per file costs no allocation once it has grown).
void format_file_line(const EntryVisit& file, std::int32_t size, std::string& line);

// "ERROR: " + message as one line. Control characters (a name may hold a
// line end) print as '?', so that one failure is always one line.
std::string error_line(std::string_view message);

// `text` with each control character shown as '?'.
std::string one_line(std::string_view text);

}  // namespace kelvarin
