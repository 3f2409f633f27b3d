// brq's entry function: parses the command line and runs the command.
#pragma once

#include "brq/commands.h"

namespace kelvarin::brq {

// Runs the command `argv` asks for and returns the exit status. The
// arguments are UTF-8.
int run_brq(int argc, const char* const* argv, const Streams& streams = {});

// Says on `err` that memory ran out, without taking memory; returns the
// status for it.
int out_of_memory(std::FILE* err = stderr);

}  // namespace kelvarin::brq
