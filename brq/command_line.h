// The command line of brq: which command, its options and operands, and
// the help texts. Parsing only; the commands themselves do the work.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace kelvarin::brq {

enum class Command { none, list, check, extract, cat, diff, pack, compact, mount, add, rm, mv, sync };

// Whether the progress line is drawn: by default only where it is seen
// and doesn't mix with the results.
enum class ProgressChoice { automatic, always, never };

struct CommandLine {
  Command command = Command::none;
  bool help = false;     // --help: print the help of `command` (the general one for none)
  bool version = false;  // --version: print the version line
  bool json = false;              // list, check, extract, diff
  bool human = false;             // list -h: sizes in K, M, G
  bool quiet = false;             // extract: no file lines; add, rm, mv, sync: no change lines
  bool verbose = false;           // check, extract: every line, none counted together
  bool skip_existing = false;     // extract: leave files that are there alone
  bool order = false;             // diff: report folders whose entries' order changed
  bool all = false;               // diff: every entry of a folder on one side only
  bool allow_unportable = false;  // pack, add, mv, sync: store names Windows can't hold
  bool dereference = false;       // pack, add, sync -h: follow links inside the folder
  bool drop_damaged = false;      // compact and the edits: leave out what an extraction leaves out
  bool ignore_case = false;       // list, extract, cat: paths and patterns
  ProgressChoice progress = ProgressChoice::automatic;  // extract, cat, pack, compact
  unsigned jobs = 0;  // extract -j: workers writing at once; 0 the default
  std::vector<std::string> excludes;                    // list, extract, cat, pack
  bool has_output = false;  // pack -o given: the operands are PATHs
  std::string output;       // pack -o: the archive, "-" for standard output
  bool foreground = false;        // mount -f: stay in the foreground
  bool dry_run = false;           // add, rm, mv, sync -n: tell the changes, make none
  std::string directory;          // add, pack -C: where the PATHs are taken from
  std::vector<std::string> operands;
};

// Parses argv[1] onwards into `line`: a command to run or help to print,
// or an Error that says why the command line is wrong.
Error parse_command_line(int argc, const char* const* argv, CommandLine& line);

// The help of `command`, or the general help for Command::none.
std::string_view help_text(Command command);

// "brq 1.1.0\n": the version every package of both programs carries.
std::string version_text();

}  // namespace kelvarin::brq
