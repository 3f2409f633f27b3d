// From command line to exit status: help and usage errors here, the work in
// the command files.
#include "brq/run_brq.h"
#include "brq/commands.h"
#include "brq/command_line.h"

namespace kelvarin::brq {

int run_brq(int argc, const char* const* argv, const Streams& streams) {
  CommandLine line;
  const Error error = parse_command_line(argc, argv, line);
  if (!error.ok()) {
    print(streams.err, "brq: " + error.cause() + "\n");
    print(streams.err, line.command == Command::none
                           ? std::string("Try 'brq --help'.\n")
                           : "Try 'brq " + std::string(argv[1]) + " --help'.\n");
    return kStatusUsage;
  }
  if (line.version) {
    print(streams.out, version_text());
    return kStatusSuccess;
  }
  if (line.help) {
    print(streams.out, help_text(line.command));
    return kStatusSuccess;
  }
  switch (line.command) {
    case Command::list:
      return list_archive(line, streams);
    case Command::check:
      return check_archive(line.operands[0], streams);
    case Command::extract:
      return extract_archive(line, streams);
    case Command::cat:
      return cat_files(line, streams);
    case Command::diff:
      return diff_archives(line, streams);
    case Command::pack:
      return pack_folder(line, streams);
    case Command::mount:
      return mount_archive(line.operands[0], line.operands[1], line.foreground, streams);
    case Command::none:
      break;
  }
  return kStatusUsage;
}

}  // namespace kelvarin::brq
