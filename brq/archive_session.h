// What every reading command does first: open the archive named on the
// command line and load its index, and the error lines they print.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "archive/extract_state.h"

namespace kelvarin::brq {

enum class Opened { loaded, not_opened, unusable };

// Opens `path` into `state` and loads its index. Anything but `loaded`
// comes with `error` saying why.
Opened open_archive_index(ExtractState& state, const std::string& path, std::string& error);

// "ERROR: " + message as one line on `stream`.
void print_error(std::FILE* stream, std::string_view message);

void print(std::FILE* stream, std::string_view text);

}  // namespace kelvarin::brq
