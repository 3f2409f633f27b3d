// The program's entry function: banner, command line, archive, index, walk.
#pragma once

#include <cstdio>

namespace kelvarin {

// Exit statuses of a run.
inline constexpr int kStatusComplete = 0;      // every reachable entry written whole
inline constexpr int kStatusUnusable = 1;      // archive or destination unusable; nothing done
inline constexpr int kStatusIncomplete = 2;    // the walk ran, but an entry was refused or failed
inline constexpr int kStatusUsage = -1;        // wrong command line (255 in a POSIX shell)

// Runs one extraction as the command line `argv` asks, printing to `out`.
// The arguments are UTF-8.
int run_extract(int argc, char** argv, std::FILE* out = stdout);

// Says that memory ran out, in the line the program has always printed,
// without taking memory; returns the status for it.
int out_of_memory(std::FILE* out = stdout);

}  // namespace kelvarin
