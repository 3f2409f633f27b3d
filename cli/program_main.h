// What both executables do around their entry function: standard output
// set up for many lines, the command line as UTF-8, a final flush.
#pragma once

namespace kelvarin {

// Calls `entry` with the command line in UTF-8 and returns its status.
int run_program_main(int argc, char** argv, int (*entry)(int, char**));

}  // namespace kelvarin
