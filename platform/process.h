// The frame of a process: what every executable's main does before and
// after its own work, and writing to the standard streams.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "platform/error.h"

namespace kelvarin::platform {

// Readies the process and the standard streams, takes the command line as
// UTF-8, calls `entry` and flushes the output. Returns `entry`'s status, or
// where memory runs out before `entry` can tell of it, `out_of_memory`'s
// (which must say so without taking memory).
int run_main(int argc, char** argv, int (*entry)(int argc, char** argv), int (*out_of_memory)());

bool is_terminal(std::FILE* stream);

// The most workers a run may be given.
inline constexpr unsigned kMaxJobs = 64;

// How many processors are online (1 where the OS doesn't tell).
unsigned processor_count();

// How many more files and folders the process may hold open at once: its
// limit less those it holds (SIZE_MAX where the OS sets no such limit).
std::size_t spare_descriptors();

// Writes all of `bytes` to `stream`, or says why it could not.
Error write_stream(std::FILE* stream, std::string_view bytes);

// Flushes `stream`: the last chance to learn that its bytes did not arrive.
Error flush_stream(std::FILE* stream);

// Whether a failed write to a stream found its reader gone (a closed pipe):
// the end of a run that had nothing more to say, not a failure to report.
bool reader_gone(const Error& error);

}  // namespace kelvarin::platform
