// Command-line parsing for brq. Options may stand anywhere after the
// command; "--" ends them, so operands may begin with '-'.
#include "brq/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

#include "platform/mount.h"
#include "platform/process.h"

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

// The general help, in two parts around the line of `mount`, which a build
// without mount support leaves out.
constexpr std::string_view kGeneralHelpBeforeMount =
    "Usage: brq <command> [options] ...\n"
    "\n"
    "Looks into, checks, extracts, compares and builds Kelvarin .brq archives.\n"
    "\n"
    "Commands:\n"
    "  list ARCHIVE [PATH...]             the entries, in extraction order\n"
    "  check ARCHIVE                      check the index and every file's data range\n"
    "  extract ARCHIVE [DEST [PATH...]]   extract everything or the named entries\n"
    "  cat ARCHIVE PATH...                files' bytes to standard output\n"
    "  diff A B                           what changed from one archive or folder\n"
    "                                     to another\n"
    "  pack DIR ARCHIVE                   build an archive from a folder\n"
    "  pack [-C DIR] -o ARCHIVE PATH...   ... or from files and folders in it\n"
    "  add ARCHIVE [-C DIR] PATH...       add or replace files and folders\n"
    "  rm ARCHIVE PATH...                 remove entries\n"
    "  mv ARCHIVE FROM TO                 rename or move an entry\n"
    "  sync ARCHIVE FOLDER                make the archive hold exactly FOLDER\n"
    "  compact ARCHIVE                    rewrite an archive as brq pack would write\n"
    "                                     its extraction, giving back unused bytes\n";
constexpr std::string_view kGeneralHelpMount =
    "  mount ARCHIVE MOUNTPOINT           show an archive as a read-only folder\n";
constexpr std::string_view kGeneralHelpAfterMount =
    "\n"
    "A PATH is an entry's path as 'brq list' shows it ('/' or '\\' between\n"
    "names, a leading '/' or './' optional) or a pattern: '*' and '?' within a\n"
    "name, '[...]' a class, '**' any number of folders (\"sounds/**/*.wav\").\n"
    "A pattern without '/' matches names at any depth ('*.html'), one with '/'\n"
    "whole paths from the top ('/*.html' only on the top level).\n"
    "\n"
    "'brq <command> --help' tells more about one command; 'brq --version'\n"
    "prints the version.\n"
    "\n"
    "Exit status: 0 success, 1 the archive is unusable (or can't be written),\n"
    "2 some entries failed, 64 wrong command line ('diff': 0 the same,\n"
    "1 different, 2 trouble).\n";

// What the help of every edit ends with (a macro, so that each help
// stays one string literal).
#define KELVARIN_EDIT_HELP                                                          \
  "  -n, --dry-run       print what would change, change nothing\n"                 \
  "  -q, --quiet         don't print the changes\n"                                 \
  "  --json              the changes as one JSON document instead:\n"               \
  "           {\"changes\": [{\"change\": \"added\"|\"removed\"|\"changed\"|\"moved\",\n" \
  "                          \"path\", \"to\", \"entries\"}, ...]}\n"                  \
  "  --drop-damaged      leave out of the archive what an extraction leaves\n"      \
  "                      out (damaged entries, names it refuses); without it\n"     \
  "                      such an archive is refused, nothing changed\n"             \
  "  --progress          show the progress line on standard error, and its\n"      \
  "                      last state however short the run\n"                        \
  "  --no-progress       never show it\n"                                            \
  "\n"                                                                               \
  "One line per change: '+ PATH' added, '- PATH' removed, '~ PATH' replaced,\n"     \
  "'FROM -> TO' moved; a folder added or removed as one line with how many\n"       \
  "entries it holds. The new archive is written beside the old one and put\n"       \
  "in its place in one step: killed at any moment, the edit leaves the old\n"       \
  "archive or the new one, whole. Data of unchanged files are not rewritten\n"      \
  "but copied (or shared) by the kernel; bytes no entry uses any more stay\n"       \
  "until 'brq compact' gives them back. An edit already changing ARCHIVE\n"        \
  "refuses a second one.\n"                                                          \
  "\n"                                                                               \
  "Exit status: 0 changed (or nothing to change), 1 the archive can't be\n"         \
  "used or written, or another edit holds it (nothing changed), 2 some\n"           \
  "PATH names nothing or was left out, or the edit was refused.\n"

constexpr std::array<CommandInfo, 12> kCommands = {{
    {Command::list, "list", 1, kAny,
     "Usage: brq list [options] ARCHIVE [PATH...]\n"
     "\n"
     "Prints one line per entry, in the order extraction walks them (a folder\n"
     "before its contents, a whole folder before the next entry): kind, size,\n"
     "data position and the path inside the archive, with '/' between names,\n"
     "then a line of totals. The root, whose name is usually empty, is shown\n"
     "as '/'. Control characters in names print as '?'. With PATHs (paths or\n"
     "patterns), only the entries they name, each folder with all it holds.\n"
     "\n"
     "  -h, --human        sizes in K, M, G, T (powers of 1024)\n"
     "  --exclude PATTERN  leave out what PATTERN names, with all it holds: a\n"
     "                     PATTERN without '/' is matched against names at any\n"
     "                     depth, one with '/' against paths from the top\n"
     "  --ignore-case      paths and patterns match in any case (ASCII letters)\n"
     "  --json             one JSON document instead, without totals:\n"
     "           {\"entries\": [{\"path\", \"kind\", \"size\", \"offset\", \"index\"}, ...]}\n"
     "           A path that is not UTF-8 has each stray byte replaced by U+FFFD\n"
     "           and its exact bytes in \"path_hex\". A folder's offset is null.\n"
     "\n"
     "Exit status: 0 listed, 1 unusable archive, 2 some entries are damaged\n"
     "(named on standard error) or a PATH names nothing.\n"},
    {Command::check, "check", 1, 1,
     "Usage: brq check [--json] [-v] ARCHIVE\n"
     "\n"
     "Checks the whole index without writing anything: counts, links, names,\n"
     "sizes, and that every file's data lie inside the archive and after the\n"
     "index. Prints each problem found and a summary (entries, folders, files,\n"
     "total bytes, and the bytes no file's data cover where there are some:\n"
     "'brq compact' gives them back).\n"
     "\n"
     "  --json   one JSON document instead:\n"
     "           {\"problems\": [{\"index\", \"path\", \"problem\"}, ...], \"entries\",\n"
     "            \"folders\", \"files\", \"bytes\", \"unreachable\", \"unused\",\n"
     "            \"notes\": [{\"note\", \"entries\"}, ...],\n"
     "            \"verdict\": \"sound\"|\"problems\"|\"unusable\"}\n"
     "  -v, --verbose   a file for each line where the archive is cut short,\n"
     "                  instead of one line for them all\n"
     "\n"
     "The format holds no checksums: data bytes that were changed, or a file\n"
     "swapped for another of the same size, can't be seen. 'brq diff' against\n"
     "a known good copy can.\n"
     "\n"
     "Exit status: 0 the archive is sound, 1 it can't be opened or its index is\n"
     "unusable, 2 some entries have problems.\n"},
    {Command::extract, "extract", 1, kAny,
     "Usage: brq extract [options] ARCHIVE [DEST [PATH...]]\n"
     "\n"
     "Extracts everything, or only the entries PATHs name (paths or patterns;\n"
     "a folder brings everything below it), into DEST, with the same safety\n"
     "rules as Kelvarin_Extract. Without DEST, into the current folder, as\n"
     "tar does. A file already there is replaced in one step. A missing DEST\n"
     "is made with its missing parents, as by 'mkdir -p'.\n"
     "Prints each file's path.\n"
     "\n"
     "  -q, --quiet        don't print each file's path\n"
     "  -v, --verbose      a line for every failure: files past where the\n"
     "                     archive is cut short, and those of a full or\n"
     "                     read-only disk after the first, are otherwise\n"
     "                     counted in one line at the end\n"
     "  -j, --jobs N       write N files at once (1 to 64; by default\n"
     "                     KELVARIN_JOBS, else the processors, at most 8);\n"
     "                     the lines and the tree are the same for any N\n"
     "  --skip-existing    leave every file that is already there untouched\n"
     "  --json             one JSON document instead, errors too, in walk order:\n"
     "           {\"entries\": [{\"index\", \"path\", \"kind\", \"status\", ...}, ...],\n"
     "            \"missing\": [PATH, ...], \"files_written\", \"bytes_written\",\n"
     "            \"skipped\", \"refused\", \"failed\", \"complete\"}\n"
     "           status is \"written\", \"skipped\", \"refused\" or \"failed\" (these\n"
     "           two with the \"message\" the line would give); -q leaves out\n"
     "           the written and skipped. Standard error keeps the progress\n"
     "           line and what stops the run (the destination, memory).\n"
     "  --exclude PATTERN  leave out what PATTERN names, with all it holds: a\n"
     "                     PATTERN without '/' is matched against names at any\n"
     "                     depth, one with '/' against paths from the top\n"
     "  --ignore-case      paths and patterns match in any case (ASCII letters)\n"
     "  --progress         show the progress line on standard error, and its\n"
     "                     last state however short the run\n"
     "  --no-progress      never show it (by default it shows when standard\n"
     "                     error is a terminal the file lines don't go to)\n"
     "\n"
     "Exit status: 0 everything asked for was written whole (or skipped),\n"
     "1 unusable archive or destination (nothing created), 2 some entries\n"
     "failed or a PATH names nothing.\n"},
    {Command::cat, "cat", 2, kAny,
     "Usage: brq cat [options] ARCHIVE PATH...\n"
     "\n"
     "Writes the bytes of the files PATHs name (paths or patterns) to standard\n"
     "output, nothing else, in the order the PATHs are given (a pattern's\n"
     "files in extraction order). Errors go to standard error.\n"
     "\n"
     "  --exclude PATTERN  leave out what PATTERN names\n"
     "  --ignore-case      paths and patterns match in any case (ASCII letters)\n"
     "  --progress         show the progress line on standard error, and its\n"
     "                     last state however short the run\n"
     "  --no-progress      never show it (by default it shows when standard\n"
     "                     error is a terminal and the output is not)\n"
     "\n"
     "Exit status: 0 every file was written whole, 1 unusable archive, 2 a PATH\n"
     "names nothing or only folders, a file is damaged, or the output failed.\n"},
    {Command::diff, "diff", 2, 2,
     "Usage: brq diff [--json] [--order] [--all] A B\n"
     "\n"
     "Tells what changed from A to B, each an archive or a folder (an\n"
     "extraction, a modded tree: taken as an archive of it would be, nothing\n"
     "followed, nothing written), one line per entry, in path order: '- PATH'\n"
     "only in A, '+ PATH' only in B, 'M PATH' a file whose size or bytes differ\n"
     "(or a file that became a folder, or the other way round). A folder on\n"
     "one side only is one line, '- PATH/ (N entries)'. Sizes are compared\n"
     "first; bytes are read only where they agree. Where data lie and the\n"
     "order of entries are not differences. A link, or anything else an\n"
     "archive can't hold, in a folder is trouble: named on standard error.\n"
     "\n"
     "  --all     a line for every entry of a folder on one side only\n"
     "  --order   also 'O PATH' for a folder in both whose shared entries come\n"
     "            in another order\n"
     "  --json    one JSON document instead:\n"
     "            {\"changes\": [{\"change\": \"removed\"|\"added\"|\"modified\"|\"order\",\n"
     "                           \"path\", \"entries\"}, ...]}\n"
     "            (\"entries\" for a folder on one side only)\n"
     "\n"
     "Exit status: 0 the same, 1 different, 2 trouble (an archive is unusable,\n"
     "an entry can't be read or compared), 64 wrong command line.\n"},
    {Command::pack, "pack", 1, kAny,
     "Usage: brq pack [options] DIR ARCHIVE\n"
     "       brq pack [options] [-C DIR] -o ARCHIVE PATH...\n"
     "\n"
     "Writes the folder DIR and everything in it as the archive ARCHIVE; or,\n"
     "as tar -C does, the files and folders PATHs name below DIR (by default\n"
     "the current folder), each under its PATH in the archive, merged into\n"
     "one tree (a PATH given twice, or inside another, writes nothing). An\n"
     "ARCHIVE '-' is standard output. The root has an empty name, each\n"
     "folder's entries are sorted bytewise by name, and the same tree always\n"
     "gives the same bytes. What an archive can't hold is named and left out,\n"
     "and the rest packed (status 2): links, devices, files of 2 GiB or more,\n"
     "names Kelvarin_Extract refuses or that are not UTF-8. Names Windows\n"
     "can't hold (CON.txt, 'a?.txt', a trailing dot or space...) or that\n"
     "differ only in case within a folder refuse the whole pack, and so does\n"
     "an ARCHIVE inside DIR. The archive is written under a temporary name\n"
     "and renamed into place when complete; it replaces only a file: ARCHIVE\n"
     "naming a link, a device, a pipe or a socket is refused and left as it\n"
     "is.\n"
     "\n"
     "  -C DIR              take the PATHs below DIR (--directory DIR)\n"
     "  -o ARCHIVE          the archive to write; '-' is standard output,\n"
     "                      refused on a terminal (--output ARCHIVE)\n"
     "  --exclude PATTERN   leave out what PATTERN names, with all it holds, as\n"
     "                      extract does (by its path in the archive)\n"
     "  -h, --dereference   follow links to files and folders inside DIR; one\n"
     "                      leading out of DIR, nowhere, or to a folder it lies\n"
     "                      in is left out\n"
     "  --allow-unportable  store names Windows can't hold, and names that\n"
     "                      differ only in case, all the same\n"
     "  --progress          show the progress line on standard error, and its\n"
     "                      last state however short the run\n"
     "  --no-progress       never show it (by default it shows when standard\n"
     "                      error is a terminal)\n"
     "\n"
     "Exit status: 0 written, 1 the folder or a PATH can't be read or the\n"
     "archive can't be written, 2 some entries were left out, or names\n"
     "Windows can't hold refused the pack (nothing written).\n"},
    {Command::compact, "compact", 1, 1,
     "Usage: brq compact [options] ARCHIVE\n"
     "\n"
     "Rewrites ARCHIVE as brq pack would write the tree its extraction leaves,\n"
     "without extracting it: the bytes no file's data cover ('unused bytes' in\n"
     "'brq check') are given back, and so are files hidden by a later one of\n"
     "their name and entries linked from nowhere. The new archive is written\n"
     "beside the old one under a temporary name and takes its name in one\n"
     "step when complete; until then, and if anything fails, the old one stays\n"
     "as it was. An archive with entries an extraction leaves out (damaged,\n"
     "or names it refuses) is refused, each of them named, and left as it is.\n"
     "\n"
     "  --drop-damaged      write it without the entries an extraction leaves out\n"
     "  --progress          show the progress line on standard error, and its\n"
     "                      last state however short the run\n"
     "  --no-progress       never show it (by default it shows when standard\n"
     "                      error is a terminal)\n"
     "\n"
     "Exit status: 0 rewritten, 1 the archive is unusable or can't be written\n"
     "(left as it was), 2 entries an extraction leaves out refused the rewrite\n"
     "(left as it was) or, with --drop-damaged, were dropped.\n"},
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
    {Command::add, "add", 2, kAny,
     "Usage: brq add [options] ARCHIVE [-C DIR] PATH...\n"
     "\n"
     "Adds the files and folders PATHs name on disk to ARCHIVE, each under\n"
     "its PATH; an entry of that path is replaced, a folder with all it holds\n"
     "(what only the archive holds there is removed). With -C DIR, the PATHs\n"
     "are taken relative to DIR, as by tar. What brq pack leaves out is left\n"
     "out here too; a name Windows can't hold refuses the edit.\n"
     "\n"
     "  -C, --directory DIR take the PATHs relative to DIR\n"
     "  --exclude PATTERN   leave out what PATTERN names on disk, with all it holds\n"
     "  -h, --dereference   follow links to files and folders, as pack does\n"
     "  --allow-unportable  store names Windows can't hold, and names that\n"
     "                      differ only in case, all the same\n"
     KELVARIN_EDIT_HELP},
    {Command::rm, "rm", 2, kAny,
     "Usage: brq rm [options] ARCHIVE PATH...\n"
     "\n"
     "Removes the entries PATHs name (paths or patterns, as extract takes\n"
     "them), each folder with all it holds. A PATH that names nothing is an\n"
     "error (status 2); the others are still removed.\n"
     "\n"
     KELVARIN_EDIT_HELP},
    {Command::mv, "mv", 3, 3,
     "Usage: brq mv [options] ARCHIVE FROM TO\n"
     "\n"
     "Renames or moves the entry FROM (a folder with all it holds) to the path\n"
     "TO, making the folders missing on the way. An entry already at TO\n"
     "refuses the move, with nothing changed.\n"
     "\n"
     "  --allow-unportable  store names Windows can't hold, and names that\n"
     "                      differ only in case, all the same\n"
     KELVARIN_EDIT_HELP},
    {Command::sync, "sync", 2, 2,
     "Usage: brq sync [options] ARCHIVE FOLDER\n"
     "\n"
     "Makes ARCHIVE hold exactly FOLDER's tree, as brq pack would store it:\n"
     "what is new is added, files whose size or bytes differ are replaced\n"
     "(bytes are read only where the sizes agree), and what FOLDER lacks is\n"
     "removed.\n"
     "\n"
     "  --exclude PATTERN   leave out what PATTERN names on disk, with all it holds\n"
     "  -h, --dereference   follow links to files and folders, as pack does\n"
     "  --allow-unportable  store names Windows can't hold, and names that\n"
     "                      differ only in case, all the same\n"
     KELVARIN_EDIT_HELP},
}};

constexpr unsigned bit(Command command) { return 1u << static_cast<unsigned>(command); }

struct OptionInfo {
  std::string_view name;
  std::string_view short_name;  // empty when there is none
  unsigned commands;            // bit() of each command that takes it
  std::string_view value;       // what it takes ("a pattern"); empty when nothing
  // False when the value is not one it takes.
  bool (*apply)(CommandLine& line, std::string_view value);
};

constexpr unsigned kSelecting = bit(Command::list) | bit(Command::extract) | bit(Command::cat);
constexpr unsigned kEditing = bit(Command::add) | bit(Command::rm) | bit(Command::mv) | bit(Command::sync);
constexpr unsigned kFromDisk = bit(Command::add) | bit(Command::sync);
constexpr unsigned kExcluding = kSelecting | kFromDisk | bit(Command::pack);
constexpr unsigned kWriting =
    bit(Command::extract) | bit(Command::cat) | bit(Command::pack) | bit(Command::compact) | kEditing;

constexpr std::array<OptionInfo, 21> kOptions = {{
    {"--json", "", bit(Command::list) | bit(Command::check) | bit(Command::extract) | bit(Command::diff) | kEditing, "",
     [](CommandLine& line, std::string_view) { line.json = true; return true; }},
    {"--human", "-h", bit(Command::list), "",
     [](CommandLine& line, std::string_view) { line.human = true; return true; }},
    {"--quiet", "-q", bit(Command::extract) | kEditing, "",
     [](CommandLine& line, std::string_view) { line.quiet = true; return true; }},
    {"--verbose", "-v", bit(Command::check) | bit(Command::extract), "",
     [](CommandLine& line, std::string_view) { line.verbose = true; return true; }},
    {"--skip-existing", "", bit(Command::extract), "",
     [](CommandLine& line, std::string_view) { line.skip_existing = true; return true; }},
    {"--order", "", bit(Command::diff), "",
     [](CommandLine& line, std::string_view) { line.order = true; return true; }},
    {"--all", "", bit(Command::diff), "", [](CommandLine& line, std::string_view) { return line.all = true; }},
    {"--allow-unportable", "", bit(Command::pack) | kFromDisk | bit(Command::mv), "",
     [](CommandLine& line, std::string_view) { line.allow_unportable = true; return true; }},
    {"--dereference", "-h", bit(Command::pack) | kFromDisk, "",
     [](CommandLine& line, std::string_view) { line.dereference = true; return true; }},
    {"--ignore-case", "", kSelecting, "",
     [](CommandLine& line, std::string_view) { line.ignore_case = true; return true; }},
    {"--exclude", "", kExcluding, "a pattern",
     [](CommandLine& line, std::string_view value) { line.excludes.emplace_back(value); return true; }},
    {"--progress", "", kWriting, "",
     [](CommandLine& line, std::string_view) { line.progress = ProgressChoice::always; return true; }},
    {"--no-progress", "", kWriting, "",
     [](CommandLine& line, std::string_view) { line.progress = ProgressChoice::never; return true; }},
    {"--jobs", "-j", bit(Command::extract), "a number of workers from 1 to 64",
     [](CommandLine& line, std::string_view value) {
       unsigned jobs = 0;
       const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
       line.jobs = jobs;
       static_assert(platform::kMaxJobs == 64, "the help and the messages say 64");
       return error == std::errc() && end == value.data() + value.size() && jobs >= 1 && jobs <= platform::kMaxJobs;
     }},
    {"--output", "-o", bit(Command::pack), "an archive",
     [](CommandLine& line, std::string_view value) {
       line.has_output = true;
       line.output = value;
       return !value.empty();
     }},
    {"--foreground", "-f", bit(Command::mount), "",
     [](CommandLine& line, std::string_view) { line.foreground = true; return true; }},
    {"--dry-run", "-n", kEditing, "",
     [](CommandLine& line, std::string_view) { return line.dry_run = true; }},
    {"--drop-damaged", "", kEditing | bit(Command::compact), "",
     [](CommandLine& line, std::string_view) { return line.drop_damaged = true; }},
    {"--directory", "-C", bit(Command::add) | bit(Command::pack), "a folder",
     [](CommandLine& line, std::string_view value) {
       line.directory = value;
       return !value.empty();
     }},
    {"--help", "", ~0u, "", [](CommandLine& line, std::string_view) { return line.help = true; }},
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

// The option `arg` names for `command`; "-h" is --help except where it
// means --human, as for ls and du, or --dereference, as for tar.
const OptionInfo* find_option(std::string_view arg, Command command) {
  if (arg == "-h" && command != Command::list && command != Command::pack && command != Command::add &&
      command != Command::sync) {
    arg = "--help";
  }
  for (const OptionInfo& option : kOptions) {
    if ((option.commands & bit(command)) != 0 &&
        (arg == option.name || (!option.short_name.empty() && arg == option.short_name))) {
      return &option;
    }
  }
  return nullptr;
}

bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

Error unknown_option(std::string_view arg, const CommandInfo& info) {
  return Error::because("unknown option '" + std::string(arg) + "' for " + std::string(info.name));
}

Error needs_value(std::string_view arg, const OptionInfo& option) {
  return Error::because("option '" + std::string(arg) + "' needs " + std::string(option.value));
}

Error wrong_value(std::string_view arg, const OptionInfo& option, std::string_view value) {
  return Error::because("option '" + std::string(arg) + "' takes " + std::string(option.value) + ", not '" +
                        std::string(value) + "'");
}

// One argument of short options, joined as getopt joins them: "-qv" is
// "-q -v", and an option that takes a value takes the rest of the
// argument ("-j2", "-qj2"), or the next argument when nothing is left
// ("-qj 2").
Error parse_short_options(std::string_view arg, int argc, const char* const* argv, int& i, const CommandInfo& info,
                          CommandLine& line) {
  for (std::size_t at = 1; at < arg.size(); ++at) {
    const std::string letter{'-', arg[at]};
    const OptionInfo* option = find_option(letter, info.command);
    if (option == nullptr) return unknown_option(arg.size() == 2 ? arg : letter, info);
    std::string_view value;
    if (!option->value.empty()) {
      if (at + 1 < arg.size()) {
        value = arg.substr(at + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return needs_value(letter, *option);
      }
      at = arg.size();
    }
    if (!option->apply(line, value)) return wrong_value(letter, *option, value);
  }
  return {};
}

// Whether `path` names something below the folder it is taken from, as
// every PATH of pack must, being its path in the archive as well: not
// from the top ("/x", "C:x") and not up ("..").
bool stays_below(std::string_view path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':')) return false;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

// pack takes "DIR ARCHIVE", or, given -o ARCHIVE, PATHs from the current
// folder or -C's.
Error check_pack_operands(const CommandLine& line) {
  if (line.has_output) {
    for (const std::string& path : line.operands) {
      if (!stays_below(path)) {
        return Error::because("pack takes PATHs below its folder (-C DIR), not '" + path + "'");
      }
    }
    return {};
  }
  if (!line.directory.empty()) return Error::because("pack -C needs the archive as -o ARCHIVE");
  if (line.operands.size() != 2) {
    return Error::because("pack takes DIR ARCHIVE, or -o ARCHIVE and PATHs, not " +
                          std::to_string(line.operands.size()) + (line.operands.size() == 1 ? " operand" : " operands"));
  }
  if (line.operands[0].empty()) return Error::because("the folder to pack can't be empty");
  return {};
}

}  // namespace

Error parse_command_line(int argc, const char* const* argv, CommandLine& line) {
  line = CommandLine{};
  if (argc < 2) return Error::because("no command given");
  std::string_view first = argv[1];
  if (first == "--version" && argc == 2) {
    line.version = true;
    return {};
  }
  if (is_help(first) || first == "help") {
    line.help = true;
    if (argc > 2) {
      const CommandInfo* info = find_command(argv[2]);
      if (info == nullptr) return Error::because("unknown command '" + std::string(argv[2]) + "'");
      line.command = info->command;
    }
    return {};
  }
  const CommandInfo* info = find_command(first);
  if (info == nullptr) return Error::because("unknown command '" + std::string(first) + "'");
  line.command = info->command;

  bool options_ended = false;
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      line.operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (!arg.starts_with("--")) {
      Error joined = parse_short_options(arg, argc, argv, i, *info, line);
      if (!joined.ok()) return joined;
      continue;
    }
    // "--exclude=PATTERN" as well as "--exclude PATTERN".
    const std::size_t equals = arg.find('=');
    const OptionInfo* option = find_option(arg.substr(0, equals), info->command);
    if (option == nullptr || (equals != std::string_view::npos && option->value.empty())) {
      return unknown_option(arg, *info);
    }
    std::string_view value;
    if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (!option->value.empty()) {
      if (i + 1 >= argc) return needs_value(arg, *option);
      value = argv[++i];
    }
    if (!option->apply(line, value)) return wrong_value(arg, *option, value);
  }
  if (line.help) return {};
  if (line.operands.size() < info->min_operands) {
    return Error::because(std::string(info->name) + " needs more operands");
  }
  if (line.operands.size() > info->max_operands) {
    return Error::because(std::string(info->name) + " takes " + std::to_string(info->max_operands) +
                          (info->max_operands == 1 ? " operand" : " operands") + ", not " +
                          std::to_string(line.operands.size()));
  }
  // Into the current folder, as tar, unzip and 7z extract.
  if (info->command == Command::extract && line.operands.size() == 1) line.operands.emplace_back(".");
  if (info->command == Command::pack) {
    Error pack_form = check_pack_operands(line);
    if (!pack_form.ok()) return pack_form;
  }
  // An empty destination would turn every output path into one from the
  // file system's root.
  if (info->command == Command::extract && line.operands[1].empty()) {
    return Error::because("the destination folder can't be empty");
  }
  if (info->command == Command::mount && line.operands[1].empty()) {
    return Error::because("the mount point can't be empty");
  }
  return {};
}

std::string version_text() { return std::string("brq ") + KELVARIN_VERSION + "\n"; }

std::string_view help_text(Command command) {
  const CommandInfo* info = info_of(command);
  if (info != nullptr) return info->help;
  static const std::string general = [] {
    std::string text(kGeneralHelpBeforeMount);
    if (platform::can_mount()) text += kGeneralHelpMount;
    return text += kGeneralHelpAfterMount;
  }();
  return general;
}

}  // namespace kelvarin::brq
