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

// "; the N entries inside it are skipped" (nothing for none): what a
// refused or failed folder takes with it.
std::string inside_count(std::uint64_t count);

// The message for an entry refused because of `cause`, with the `inside`
// entries it holds: "Skipping entry 7, \maps\x.dat: <cause>", or for an
// entry without a readable name "Skipping entry 7 in \maps\".
std::string skipped_entry_message(const EntryVisit& visit, const std::string& cause,
                                  std::uint64_t inside);

}  // namespace kelvarin
