// The pure pieces, tested directly: the name checks every entry passes,
// the temporary names, path patterns, one-line messages, UTF-8 and JSON
// text, the progress text, and both command lines.
#include <gtest/gtest.h>

#include <cctype>

#include "brq/command_line.h"
#include "brq/json_text.h"
#include "brq/progress_line.h"
#include "brq/text_output.h"
#include "messages/entry_messages.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "names/entry_pattern.h"
#include "names/entry_selection.h"
#include "names/utf8.h"
#include "platform/mount.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(Names, WhatMayNotStandOnDisk) {
  struct Case {
    std::string name;
    bool is_file;
    std::string reason;  // empty: taken
  };
  // Fixed for each name, so the next run finds what a killed one left.
  const std::string temp_file(TemporaryName("a", false).text());
  EXPECT_EQ(temp_file, std::string(TemporaryName("a", false).text()));
  EXPECT_EQ(TemporaryName(std::string(5000, 'n'), true).text().size(), 34u);
  const std::string temp_folder(TemporaryName("a", true).text());
  std::string upper_temp = temp_folder;
  for (char& c : upper_temp) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const char* leaves = "the name would leave its folder";
  const char* separator = "the name holds a path separator";
  const char* kept = "the name is one Kelvarin_Extract keeps for its unfinished files";
  const char* control = "the name holds a control character";
  const std::vector<Case> cases = {
      {".", true, leaves}, {"..", false, leaves}, {"a/b", true, separator}, {"\\", false, separator},
      {"x/", true, separator}, {"", true, "a file needs a name"}, {"", false, ""}, {"...", true, kOnWindows ? "Windows drops a dot or space at the end of a name" : ""},
      {"CON", true, kOnWindows ? "the name is a device on Windows" : ""}, {".hidden", true, ""},
      {temp_file, true, kept}, {temp_folder, false, kept}, {upper_temp, true, kept},
      // Near misses of the temporary form are ordinary names.
      {temp_file.substr(1), true, ""}, {temp_file.substr(0, temp_file.size() - 1), true, ""},
      {temp_file + "x", true, ""}, {".kelvarin-0123456789abcdeg.part", true, ""},
      {".kelvarin-.part", true, ""}, {".kelvarin-0123456789abcdef0.part", true, ""},
      // A line end forges an output line, ESC drives the terminal: refused
      // on every OS. C1 controls are text, masked where they are printed.
      {"a\nERROR: fake", true, control}, {"\x1b]0;title\x07", false, control}, {"del\x7f", true, control},
      {"tab\t", true, control}, {"csi\xC2\x9B", true, ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(describe(name_problem(c.name, c.is_file)), c.reason) << "'" << c.name << "' as a " << (c.is_file ? "file" : "folder");
  }
}

TEST(Names, WindowsRefusalsAreWindowsOnly) {
  const std::vector<std::string> refused = {
      "CON", "aux.txt", "Nul.tar.gz", "Lpt1 .log", "com9", "COM\xC2\xB9", "prn", "conin$", "a:b",
      "stream.txt:hidden", "what?", "star*", "pipe|", "quote\"", "less<", "more>", "dot.", "space "};
  const std::vector<std::string> kept = {"CONSOLE", "con_", "com10", "com", "lpt0x", "nul-file",
                                         ".hidden", "a.b.c", " lead", "\xC3\xA9t\xC3\xA9"};
  for (const std::string& name : refused) {
    EXPECT_NE(windows_name_problem(name), NameProblem::none) << name;
    EXPECT_EQ(name_problem(name, true) != NameProblem::none, kOnWindows) << name;
  }
  for (const std::string& name : kept) {
    EXPECT_EQ(windows_name_problem(name), NameProblem::none) << name;
    EXPECT_EQ(name_problem(name, true), NameProblem::none) << name;
  }
}

TEST(Text, MessagesAreOneLine) {
  EXPECT_EQ(error_line("bad\nname\r\x01 ok"), "ERROR: bad?name?? ok\n");
  EXPECT_EQ(one_line("tab\there\x7F\xC3\xA9"), "tab?here?\xC3\xA9");
  // C1 controls (CSI is "\xC2\x9B") would drive a terminal as ESC does.
  EXPECT_EQ(one_line("csi\xC2\x9B" "31m \xC2\xA0\xC2\x80"), "csi?31m \xC2\xA0?");
  // Bytes that are not UTF-8: U+FFFD each in brq's lines, as Kelvarin_Extract
  // has always printed them in its own.
  EXPECT_EQ(one_line("bad\xFF\xE6\x97.\xC3\xA9"), "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.\xC3\xA9");
  EXPECT_EQ(error_line("bad\xFF\x01", PathForm::printed), "ERROR: bad\xFF?\n");
}

TEST(Text, Utf8SequencesAtTheirBounds) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"a", 1}, {"\x7F", 1}, {"\x80", 0}, {"\xC1\xBF", 0}, {"\xC2\x80", 2}, {"\xDF\xBF", 2}, {"\xDF\xC0", 0},
      {"\xE0\x9F\x80", 0}, {"\xE0\xA0\x80", 3}, {"\xED\x9F\xBF", 3}, {"\xED\xA0\x80", 0}, {"\xEF\xBF\xBF", 3},
      {"\xEF\xBF\x7F", 0}, {"\xF0\x8F\x80\x80", 0}, {"\xF0\x90\x80\x80", 4}, {"\xF4\x8F\xBF\xBF", 4},
      {"\xF4\x90\x80\x80", 0}, {"\xF5\x80\x80\x80", 0}, {"\xF0\x90\x80\xC0", 0},
      // Cut short by the end of the text.
      {"\xC3", 0}, {"\xE6\x97", 0}, {"\xF0\x90\x80", 0}};
  for (const auto& [text, length] : cases) {
    EXPECT_EQ(utf8_sequence_length(text, 0), length) << brq::hex_bytes(text);
    // The same bytes after a letter: the offset is honoured.
    EXPECT_EQ(utf8_sequence_length("x" + text, 1), length) << brq::hex_bytes(text);
  }
  EXPECT_TRUE(is_utf8("\xC3\xA9t\xC3\xA9 \xE6\x97\xA5"));
  EXPECT_FALSE(is_utf8("\xC3\xA9t\xC3"));
  EXPECT_TRUE(is_utf8(""));
}

TEST(Text, JsonStringsEscapeAndReplaceWhatIsNotText) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"plain", "\"plain\"", true}, {"q\"b\\s/", "\"q\\\"b\\\\s/\"", true},
      {"\n\r\t\b\f\x01\x1F\x7F", "\"\\n\\r\\t\\b\\f\\u0001\\u001f\\u007f\"", true},
      {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\"", true}, {"bad\xFF", "\"bad\xEF\xBF\xBD\"", false},
      // A sequence cut off by the name's end: each byte replaced.
      {"x\xE6\x97", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\"", false}, {"\xC3", "\"\xEF\xBF\xBD\"", false},
      // C1 controls are escaped, as a terminal might obey them.
      {"csi\xC2\x9B" "1m\xC2\xA0", "\"csi\\u009b1m\xC2\xA0\"", true}};
  for (const auto& [bytes, literal, exact] : cases) {
    std::string out = "[";
    EXPECT_EQ(brq::append_json_string(out, bytes), exact) << brq::hex_bytes(bytes);
    EXPECT_EQ(out, "[" + literal) << brq::hex_bytes(bytes);
  }
  EXPECT_EQ(brq::hex_bytes(std::string("\x00\x0F\xA0\xFF", 4)), "000fa0ff");
}

TEST(Patterns, NamesAndPaths) {
  struct Case {
    std::string pattern, path;
    bool matches, ignoring_case;
  };
  const std::vector<Case> cases = {
      {"*.wav", "a.wav", true, true}, {"*.wav", "s/a.wav", false, false}, {"*", "", false, false},
      {"a*b*c", "aXbYbc", true, true}, {"a*b", "abba", false, false}, {"*a", "\xE6\x97\xA5" "a", true, true},
      // '?' is one character, however many bytes it takes.
      {"?", "\xE6\x97\xA5", true, true}, {"??", "\xE6\x97\xA5", false, false}, {"?", "\xFF", true, true},
      // An overlong form or a surrogate is no character: each byte is one.
      {"?", "\xE0\x80\xAF", false, false}, {"???", "\xE0\x80\xAF", true, true}, {"?", "\xED\xA0\x80", false, false},
      {"[a-c]x", "bx", true, true}, {"[!a-c]x", "bx", false, false}, {"[^a]", "b", true, true},
      {"[]a]", "]", true, true}, {"[*]", "*", true, true}, {"[*]", "x", false, false},
      {"[\xE6\x97\xA5]", "\xE6\x97\xA5", true, true}, {"a[", "a[", true, true}, {"[A-C]", "b", false, true},
      {"LEVEL1.MAP", "level1.map", false, true}, {"\xC3\x89", "\xC3\xA9", false, false},
      // '**' is any number of folders, none too; '\\' and a leading separator are '/'.
      {"**/*.wav", "a.wav", true, true}, {"s/**/*.wav", "s/x/y/a.wav", true, true}, {"s/**", "s", true, true},
      {"**/b/**/c", "a/b/c/b/x/c", true, true}, {"s/**/*.wav", "t/a.wav", false, false},
      {"\\maps\\level1.map", "maps/level1.map", true, true}, {"/maps//*/", "maps/a", true, true},
      {"maps/*", "maps", false, false}, {"", "", true, true}, {"*/*", "a", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathPattern(c.pattern, CaseRule::exact()).matches(c.path), c.matches) << c.pattern << " " << c.path;
    EXPECT_EQ(PathPattern(c.pattern, CaseRule::folding()).matches(c.path), c.ignoring_case) << c.pattern << " " << c.path;
  }
  EXPECT_EQ(normalise_entry_path("\\maps//a.dat/"), "maps/a.dat");
  EXPECT_EQ(normalise_entry_path("./base-files/./README"), "base-files/README");
  EXPECT_EQ(fold_case("AbZ\xC3\x89["), "abz\xC3\x89[");
}

// As tar, unzip and 7z users type them: a pattern without a separator
// names entries by their names at any depth, one with a separator (a
// leading one too) whole paths from the top; a path copied from tar -t
// with its "./" names the entry; exclusions go by the same rule.
TEST(Patterns, SelectionByNameAnywhereOrByPathFromTheTop) {
  struct Case {
    std::string request;
    std::string path;  // of the entry met; its name is the last one
    bool named, below, excluded;
  };
  const std::vector<Case> cases = {
      {"*.html", "doc/en/index.html", true, true, true}, {"*.html", "index.html", true, true, true},
      {"*.html", "doc/en", false, true, false}, {"/*.html", "doc/index.html", false, false, false},
      {"/*.html", "index.html", true, false, true}, {"\\*.html", "index.html", true, false, true},
      {"./*.html", "doc/index.html", false, false, false}, {"doc/*.html", "doc/index.html", true, false, true},
      {"doc/*.html", "doc", false, true, false}, {"**/en", "doc/en", true, true, true},
      // A path without wildcards is one entry's; as an exclusion it is a name anywhere.
      {"./doc/en", "doc/en", true, false, true}, {"en", "doc/en", false, false, true}, {"en", "en", true, false, true},
      {"/doc", "doc", true, false, true}, {"doc", "doc", true, false, true},
  };
  for (const Case& c : cases) {
    const std::string name = c.path.substr(c.path.rfind('/') + 1);
    std::vector<std::size_t> requests;
    const SelectionMatcher paths(SelectionRequest{{c.request}, {}, false});
    paths.naming(name, c.path, requests);
    EXPECT_EQ(requests.size(), c.named ? 1u : 0u) << c.request << " names " << c.path;
    paths.naming_below(c.path, requests);
    EXPECT_EQ(requests.size(), c.below ? 1u : 0u) << c.request << " below " << c.path;
    EXPECT_EQ(SelectionMatcher(SelectionRequest{{}, {c.request}, false}).excluded(name, c.path), c.excluded)
        << c.request << " excludes " << c.path;
  }
}

TEST(Text, ProgressText) {
  EXPECT_EQ(brq::progress_text(1, 0, 0), "1 file, 0");
  EXPECT_EQ(brq::progress_text(2, 1023, 1), "2 files, 1023, 1023/s");
  EXPECT_EQ(brq::progress_text(3, 1024, 2), "3 files, 1.0K, 512/s");
  EXPECT_EQ(brq::progress_text(4, 3ull << 40, 0.5), "4 files, 3.0T, 6.0T/s");
  EXPECT_EQ(brq::progress_text(5, 5ull << 50, 0), "5 files, 5.0P");
  EXPECT_EQ(brq::progress_text(1, 1 << 20, 1, {4, 4 << 20}), "1 of 4 files, 1.0M of 4.0M (25%), 1.0M/s, 0:03 left");
  EXPECT_EQ(brq::progress_text(3, 0, 2, {4, 0}), "3 of 4 files, 0 of 0 (75%), 0/s");
  EXPECT_EQ(brq::progress_text(1, 1, 1, {1, 3601}), "1 of 1 file, 1 of 3.5K (0%), 1/s, 1:00:00 left");
  EXPECT_EQ(brq::human_size(1536), "1.5K");
  EXPECT_EQ(brq::human_size(12u << 20), "12M");
  using brq::ProgressChoice;
  for (const bool terminal : {false, true}) {
    for (const bool results_there : {false, true}) {
      EXPECT_TRUE(brq::progress_enabled(ProgressChoice::always, terminal, results_there));
      EXPECT_FALSE(brq::progress_enabled(ProgressChoice::never, terminal, results_there));
      EXPECT_EQ(brq::progress_enabled(ProgressChoice::automatic, terminal, results_there), terminal && !results_there);
    }
  }
}

// Kelvarin_Extract takes exactly "e ARCHIVE DESTINATION" and ignores what follows.
TEST(CommandLine, KelvarinExtractsArguments) {
  const std::string usage =
      "Usage: Kelvarin_Extract.exe e <.brq file> <Destination Folder>\n\n"
      "  Example: Kelvarin_Extract.exe e \"C:\\Games\\Kelvarin\\data.brq\" \"C:\\Kelvarin DATA\"\n"
      "    Note: Don't include the \\ at the end of the folder, otherwise it wont work.\n\n\n";
  TempDir dir;
  const std::string archive = utf8(write_archive(dir / "a.brq", {source_folder("", {source_file("f", "x")})}));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"e", archive}, {"E", archive, utf8(dir / "out")}, {"e", archive, ""}, {"ee", archive, "o"}}) {
    EXPECT_EQ(kelvarin(args).out, kBanner + usage) << args.size();
    EXPECT_EQ(kelvarin(args).status, -1);
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
  EXPECT_EQ(kelvarin({"e", archive, utf8(dir / "out"), "extra", "more"}).out, kBanner + file_line("\\f", 1));
}

TEST(CommandLine, BrqsArguments) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    brq::Command command = brq::Command::none;
    std::vector<std::string> operands = {};
    bool help = false, json = false, quiet = false;
  };
  using brq::Command;
  const std::vector<Case> cases = {
      {{}, "no command given"}, {{"unpack"}, "unknown command 'unpack'"}, {{"help", "nope"}, "unknown command 'nope'"},
      {{"-h", "pack"}, "", Command::pack, {}, true}, {{"help", "check"}, "", Command::check, {}, true},
      {{"extract", "x", "--help"}, "", Command::extract, {"x"}, true},
      {{"list", "--json", "a"}, "", Command::list, {"a"}, false, true},
      {{"check", "a", "b"}, "check takes 1 operand, not 2"}, {{"list"}, "list needs more operands"},
      {{"cat", "--json", "a", "p"}, "unknown option '--json' for cat"},
      {{"check", "--json", "a"}, "", Command::check, {"a"}, false, true},
      {{"extract", "-q", "a", "d", "p1", "p2"}, "", Command::extract, {"a", "d", "p1", "p2"}, false, false, true},
      {{"extract", "--quiet", "a", "d"}, "", Command::extract, {"a", "d"}, false, false, true},
      {{"extract", "a", ""}, "the destination folder can't be empty"},
      {{"list", "--", "-a.brq"}, "", Command::list, {"-a.brq"}}, {{"list", "-"}, "", Command::list, {"-"}},
      {{"pack", "s", "a", "b"}, "pack takes DIR ARCHIVE, or -o ARCHIVE and PATHs, not 3 operands"},
      {{"pack", "s"}, "pack takes DIR ARCHIVE, or -o ARCHIVE and PATHs, not 1 operand"},
      {{"pack", "-C", "d", "s", "a"}, "pack -C needs the archive as -o ARCHIVE"},
      {{"pack", "-o", "a"}, "pack needs more operands"},
      {{"pack", "-Cd", "-o-", "s", "t/u"}, "", Command::pack, {"s", "t/u"}},
      {{"pack", "-o", "a", "s/../.."}, "pack takes PATHs below its folder (-C DIR), not 's/../..'"},
      {{"pack", "-o", "a", "/s"}, "pack takes PATHs below its folder (-C DIR), not '/s'"},
      {{"extract", "a"}, "", Command::extract, {"a", "."}},
      {{"extract", "-qj2", "a"}, "", Command::extract, {"a", "."}, false, false, true},
      {{"extract", "-qx", "a"}, "unknown option '-x' for extract"},
      {{"extract", "-qj"}, "option '-j' needs a number of workers from 1 to 64"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"brq"};
    for (const std::string& arg : c.args) argv.push_back(arg.c_str());
    brq::CommandLine line;
    const std::string what = c.args.empty() ? "(none)" : c.args[0] + " ... (" + std::to_string(c.args.size()) + ")";
    EXPECT_EQ(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).cause(), c.error) << what;
    if (!c.error.empty()) continue;
    EXPECT_EQ(line.command, c.command) << what;
    EXPECT_EQ(line.operands, c.operands) << what;
    EXPECT_EQ(std::make_tuple(line.help, line.json, line.quiet), std::make_tuple(c.help, c.json, c.quiet)) << what;
  }
  // Options of the newer commands: values in either form, "-h" for --human
  // in list only, nothing for a command that doesn't take it.
  std::vector<const char*> argv = {"brq", "list", "-h", "--exclude", "*.wav", "--ignore-case", "a", "--exclude=x/*", "p"};
  brq::CommandLine line;
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_EQ(std::make_tuple(line.human, line.help, line.ignore_case, line.excludes, line.operands),
            std::make_tuple(true, false, true, std::vector<std::string>{"*.wav", "x/*"}, std::vector<std::string>{"a", "p"}));
  for (const auto& [args, error] : std::vector<std::pair<std::vector<const char*>, std::string>>{
           {{"brq", "extract", "a", "d", "--exclude"}, "option '--exclude' needs a pattern"},
           {{"brq", "diff", "--exclude", "x", "a", "b"}, "unknown option '--exclude' for diff"},
           {{"brq", "list", "--json=x", "a"}, "unknown option '--json=x' for list"},
           {{"brq", "check", "--progress", "a"}, "unknown option '--progress' for check"},
           {{"brq", "--version", "x"}, "unknown command '--version'"}}) {
    EXPECT_EQ(brq::parse_command_line(static_cast<int>(args.size()), args.data(), line).cause(), error) << args[1];
  }
  // Workers: a number from 1 to 64, in any form getopt takes.
  for (const std::vector<const char*>& jobs : std::vector<std::vector<const char*>>{
           {"brq", "extract", "-j", "3", "a", "d"}, {"brq", "extract", "-j3", "a"}, {"brq", "extract", "-qj", "3", "a"},
           {"brq", "extract", "a", "--jobs=3"}}) {
    EXPECT_TRUE(brq::parse_command_line(static_cast<int>(jobs.size()), jobs.data(), line).ok()) << jobs[2];
    EXPECT_EQ(line.jobs, 3u) << jobs[2];
  }
  for (const char* jobs : {"0", "65", "2x", "", "-1"}) {
    argv = {"brq", "extract", "-j", jobs, "a", "d"};
    EXPECT_EQ(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).cause(),
              "option '-j' takes a number of workers from 1 to 64, not '" + std::string(jobs) + "'");
  }
  argv = {"brq", "pack", "-hC", "d", "--exclude", "*.bak", "--output=-", "x"};
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_EQ(std::make_tuple(line.dereference, line.directory, line.excludes, line.output),
            std::make_tuple(true, std::string("d"), std::vector<std::string>{"*.bak"}, std::string("-")));
  argv = {"brq", "extract", "-h", "a"};
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_TRUE(line.help);
  argv = {"brq", "pack", "--allow-unportable", "--no-progress", "d", "a"};
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_EQ(std::make_tuple(line.allow_unportable, line.progress, line.dereference),
            std::make_tuple(true, brq::ProgressChoice::never, false));
  // For pack, -h is --dereference, as for tar; --help is still the help.
  argv = {"brq", "pack", "-h", "d", "a"};
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_EQ(std::make_tuple(line.dereference, line.help), std::make_tuple(true, false));
  argv = {"brq", "pack", "--help"};
  EXPECT_TRUE(brq::parse_command_line(static_cast<int>(argv.size()), argv.data(), line).ok());
  EXPECT_EQ(std::make_tuple(line.dereference, line.help), std::make_tuple(false, true));
}

// The help goes to standard output with status 0, every usage error to
// standard error with status 64, and either way nothing is done.
TEST(CommandLine, BrqHelpAndUsageErrors) {
  RunResult run = brq({"--version"});
  EXPECT_EQ(std::make_tuple(run.status, run.out.substr(0, 4), run.out.back()), std::make_tuple(0, "brq ", '\n'));
  EXPECT_NE(run.out.find_first_of("0123456789"), std::string::npos) << run.out;
  run = brq({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: brq <command>", 0), 0u) << run.out;
  // Every command, but mount only where this build can mount.
  for (const std::string command : {"list", "check", "extract", "cat", "diff", "pack", "mount"}) {
    EXPECT_EQ(run.out.find("\n  " + command + " ") != std::string::npos,
              command != "mount" || platform::can_mount())
        << command << " in\n" << run.out;
  }
  for (const auto& [command, info] : std::vector<std::pair<std::string, brq::Command>>{
           {"list", brq::Command::list}, {"check", brq::Command::check}, {"extract", brq::Command::extract},
           {"cat", brq::Command::cat}, {"diff", brq::Command::diff}, {"pack", brq::Command::pack}}) {
    run = brq({command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, brq::help_text(info));
    EXPECT_EQ(run.out.rfind("Usage: brq " + command + " ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("Exit status"), std::string::npos) << run.out;
  }
  TempDir dir;
  run = brq({"pack", "-x", utf8(dir / "src"), utf8(dir / "b.brq")});
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "brq: unknown option '-x' for pack\nTry 'brq pack --help'.\n");
  EXPECT_EQ(brq({}).err, "brq: no command given\nTry 'brq --help'.\n");
  EXPECT_FALSE(fs::exists(dir / "b.brq"));
}

}  // namespace
}  // namespace kelvarin::testing
