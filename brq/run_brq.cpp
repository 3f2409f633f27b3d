// From command line to exit status: help and usage errors here, the work in
// the command files.
#include "brq/run_brq.h"

#include <new>

#include "brq/command_line.h"
#include "brq/commands.h"
#include "brq/text_output.h"

namespace kelvarin::brq {
namespace {

int run_command(const CommandLine& line, const Streams& streams) {
  switch (line.command) {
    case Command::list:
      return list_archive(line, streams);
    case Command::check:
      return check_archive(line, streams);
    case Command::extract:
      return extract_archive(line, streams);
    case Command::cat:
      return cat_files(line, streams);
    case Command::diff:
      return diff_archives(line, streams);
    case Command::pack:
      return pack_folder(line, streams);
    case Command::compact:
      return compact_archive(line, streams);
    case Command::mount:
      return mount_archive(line.operands[0], line.operands[1], line.foreground, streams);
    case Command::add:
    case Command::rm:
    case Command::mv:
    case Command::sync:
      return edit_archive(line, streams);
    case Command::none:
      break;
  }
  return kStatusUsage;
}

}  // namespace

int run_brq(int argc, const char* const* argv, const Streams& streams) {
  CommandLine line;
  const Error error = parse_command_line(argc, argv, line);
  if (!error.ok()) {
    print(streams.err, "brq: " + cause_of(error) + "\n");
    print(streams.err, line.command == Command::none
                           ? std::string("Try 'brq --help'.\n")
                           : "Try 'brq " + std::string(argv[1]) + " --help'.\n");
    return kStatusUsage;
  }
  if (line.version || line.help) {
    TextOutput out(streams);
    out.add(line.version ? version_text() : std::string(help_text(line.command)));
    return out.finish() ? kStatusSuccess : kStatusEntriesFailed;
  }
  try {
    return run_command(line, streams);
  } catch (const std::bad_alloc&) {
    const int status = out_of_memory(streams.err);
    // For diff, 1 would say the two differ.
    return line.command == Command::diff ? kStatusEntriesFailed : status;
  }
}

int out_of_memory(std::FILE* err) {
  // What is needed is in proportion to the archive, which is more than
  // this process may have.
  std::fputs("ERROR: Unable to allocate memory: the archive needs more than brq may have\n", err);
  return kStatusUnusable;
}

}  // namespace kelvarin::brq
