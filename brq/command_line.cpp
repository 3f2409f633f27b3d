// Command-line parsing for brq. Options may stand anywhere after the
// command; "--" ends them, so operands may begin with '-'.
#include "brq/command_line.h"

#include <array>
#include <cstddef>

namespace kelvarin::brq {
namespace {

struct CommandInfo {
  Command command;
  std::string_view name;
  std::size_t min_operands;
  std::size_t max_operands;
  std::string_view help;
};

constexpr std::size_t kAny = static_cast<std::size_t>(-1);

constexpr std::string_view kGeneralHelp =
    "Usage: brq <command> [options] ...\n"
    "\n"
    "Looks into, checks, extracts and builds Kelvarin .brq archives.\n"
    "\n"
    "Commands:\n"
    "  list ARCHIVE [--json]              every entry, in extraction order\n"
    "  check ARCHIVE                      validate the index and every file's data\n"
    "  extract ARCHIVE DEST [PATH...]     extract everything or the named entries\n"
    "  pack DIR ARCHIVE                   build an archive from a folder\n"
    "  mount ARCHIVE MOUNTPOINT           show an archive as a read-only folder\n"
    "\n"
    "'brq <command> --help' tells more about one command; 'brq --version'\n"
    "prints the version.\n"
    "\n"
    "Exit status: 0 success, 1 the archive is unusable (or can't be written),\n"
    "2 some entries failed, 64 wrong command line.\n";

constexpr std::array<CommandInfo, 5> kCommands = {{
    {Command::list, "list", 1, 1,
     "Usage: brq list [--json] ARCHIVE\n"
     "\n"
     "Prints one line per entry, in the order extraction walks them (a folder\n"
     "before its contents, a whole folder before the next entry): kind, size,\n"
     "data position and the path inside the archive, with '/' between names.\n"
     "The root, whose name is usually empty, is shown as '/'. Control\n"
     "characters in names print as '?'.\n"
     "\n"
     "  --json   one JSON document instead:\n"
     "           {\"entries\": [{\"path\", \"kind\", \"size\", \"offset\", \"index\"}, ...]}\n"
     "           A path that is not UTF-8 has each stray byte replaced by U+FFFD\n"
     "           and its exact bytes in \"path_hex\". A folder's offset is null.\n"
     "\n"
     "Exit status: 0 listed, 1 unusable archive, 2 some entries are damaged\n"
     "(named on standard error).\n"},
    {Command::check, "check", 1, 1,
     "Usage: brq check ARCHIVE\n"
     "\n"
     "Validates the whole index and every file's data range without writing\n"
     "anything: prints each problem found and a summary (entries, folders,\n"
     "files, total bytes).\n"
     "\n"
     "Exit status: 0 the archive is sound, 1 it can't be opened or its index is\n"
     "unusable, 2 some entries have problems.\n"},
    {Command::extract, "extract", 2, kAny,
     "Usage: brq extract [--quiet] ARCHIVE DEST [PATH...]\n"
     "\n"
     "Extracts everything, or only the entries named by PATH (as 'brq list'\n"
     "shows them; a folder brings everything below it), into DEST, with the\n"
     "same safety rules as Kelvarin_Extract. Prints each file's path.\n"
     "\n"
     "  --quiet, -q   don't print each file's path\n"
     "\n"
     "Exit status: 0 everything asked for was written whole, 1 unusable\n"
     "archive (nothing created), 2 some entries failed or a PATH names none.\n"},
    {Command::pack, "pack", 2, 2,
     "Usage: brq pack DIR ARCHIVE\n"
     "\n"
     "Writes the folder DIR and everything in it as the archive ARCHIVE: the\n"
     "root has an empty name, each folder's entries are sorted bytewise by\n"
     "name, and the same tree always gives the same bytes. Refuses links, files\n"
     "of 2 GiB or more, names Kelvarin_Extract refuses or that are not UTF-8,\n"
     "and an ARCHIVE inside DIR. The archive is written under a temporary name\n"
     "and renamed into place when complete.\n"
     "\n"
     "Exit status: 0 written, 1 the folder can't be read or the archive can't\n"
     "be written, 2 some entries can't be stored (nothing written).\n"},
    {Command::mount, "mount", 2, 2,
     "Usage: brq mount [-f] ARCHIVE MOUNTPOINT\n"
     "\n"
     "Shows the archive at the folder MOUNTPOINT as a read-only file system\n"
     "(FUSE), without unpacking it: the tree Kelvarin_Extract would write,\n"
     "each folder in the archive's order, each file read straight from the\n"
     "archive. Entries extraction would refuse are left out and named on\n"
     "standard error. Once mounted, brq goes on in the background;\n"
     "'fusermount3 -u MOUNTPOINT' unmounts it.\n"
     "\n"
     "  -f, --foreground   stay in the foreground until unmounted\n"
     "\n"
     "Exit status: 0 mounted, 1 unusable archive or the mount failed (nothing\n"
     "mounted), 2 mounted with some entries left out.\n"},
}};

const CommandInfo* find_command(std::string_view name) {
  for (const CommandInfo& info : kCommands) {
    if (info.name == name) return &info;
  }
  return nullptr;
}

const CommandInfo* info_of(Command command) {
  for (const CommandInfo& info : kCommands) {
    if (info.command == command) return &info;
  }
  return nullptr;
}

bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

std::string parse_command_line(int argc, const char* const* argv, CommandLine& line) {
  line = CommandLine{};
  if (argc < 2) return "no command given";
  std::string_view first = argv[1];
  if (first == "--version" && argc == 2) {
    line.version = true;
    return {};
  }
  if (is_help(first) || first == "help") {
    line.help = true;
    if (argc > 2) {
      const CommandInfo* info = find_command(argv[2]);
      if (info == nullptr) return "unknown command '" + std::string(argv[2]) + "'";
      line.command = info->command;
    }
    return {};
  }
  const CommandInfo* info = find_command(first);
  if (info == nullptr) return "unknown command '" + std::string(first) + "'";
  line.command = info->command;

  bool options_ended = false;
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      line.operands.emplace_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (is_help(arg)) {
      line.help = true;
    } else if (arg == "--json" && info->command == Command::list) {
      line.json = true;
    } else if ((arg == "--quiet" || arg == "-q") && info->command == Command::extract) {
      line.quiet = true;
    } else if ((arg == "--foreground" || arg == "-f") && info->command == Command::mount) {
      line.foreground = true;
    } else {
      return "unknown option '" + std::string(arg) + "' for " + std::string(info->name);
    }
  }
  if (line.help) return {};
  if (line.operands.size() < info->min_operands) {
    return std::string(info->name) + " needs more operands";
  }
  if (line.operands.size() > info->max_operands) {
    return std::string(info->name) + " takes " + std::to_string(info->max_operands) +
           (info->max_operands == 1 ? " operand" : " operands") + ", not " +
           std::to_string(line.operands.size());
  }
  // An empty destination would turn every output path into one from the
  // file system's root.
  if (info->command == Command::extract && line.operands[1].empty()) {
    return "the destination folder can't be empty";
  }
  if (info->command == Command::mount && line.operands[1].empty()) return "the mount point can't be empty";
  return {};
}

std::string version_text() { return std::string("brq ") + KELVARIN_VERSION + "\n"; }

std::string_view help_text(Command command) {
  const CommandInfo* info = info_of(command);
  return info == nullptr ? kGeneralHelp : info->help;
}

}  // namespace kelvarin::brq
