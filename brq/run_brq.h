// brq's entry function: parses the command line and runs the command.
#pragma once

#include "brq/commands.h"

namespace kelvarin::brq {

// Runs the command `argv` asks for and returns the exit status. The
// arguments are UTF-8.
int run_brq(int argc, const char* const* argv, const Streams& streams = {});

}  // namespace kelvarin::brq
