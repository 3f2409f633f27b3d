// An archive that can't be opened or whose index can't be used: every
// command names it once, in one line, with its status, and creates or
// changes nothing.
#include <gtest/gtest.h>

#include "platform/mount.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// The lines of `text` that hold `what`.
std::vector<std::string> lines_with(const std::string& text, const std::string& what) {
  std::vector<std::string> found;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(what) != std::string::npos) found.push_back(line);
    start = end + 1;
  }
  return found;
}

TEST(UnusableArchive, EveryCommandNamesItOnceInOneLine) {
  TempDir dir;
  const fs::path good = write_archive(dir / "good.brq", {source_folder("", {source_file("x", "x")})});
  const std::vector<SourceNode> tree = {source_folder("", {source_folder("d", {source_file("x", "x")})})};
  ArchiveLayout layout = lay_out(tree).value();
  const std::string sound = archive_bytes(layout);
  write_file(dir / "short.brq", "BRQ");
  write_file(dir / "cut.brq", sound.substr(0, 40));
  layout.header.entry_count = 0;
  write_layout(dir / "count.brq", layout);
  layout.header.entry_count = 3;
  layout.entries[2].next_sibling = 1;  // d holds x, whose sibling is d again
  write_layout(dir / "cycle.brq", layout);
  layout.entries[2].next_sibling = 7;
  write_layout(dir / "link.brq", layout);

  const Tree before = snapshot(dir.path());
  for (const char* name : {"missing.brq", "short.brq", "cut.brq", "count.brq", "cycle.brq", "link.brq"}) {
    const std::string archive = utf8(dir / name);
    struct Command {
      std::vector<std::string> args;
      int status;
      bool brq = true;
    };
    std::vector<Command> commands = {
        {{"e", archive, utf8(dir / "out")}, 1, false},
        {{"list", archive}, 1},
        {{"list", "--json", archive}, 1},
        {{"check", archive}, 1},
        {{"extract", archive, utf8(dir / "out")}, 1},
        {{"cat", archive, "x"}, 1},
        {{"compact", archive}, 1},
        {{"diff", archive, utf8(good)}, 2},
        {{"diff", utf8(good), archive}, 2},
    };
    if (platform::can_mount()) commands.push_back({{"mount", archive, utf8(dir.path())}, 1});
    for (const Command& command : commands) {
      const RunResult run = command.brq ? brq(command.args) : kelvarin(command.args);
      const std::string what = std::string(name) + ": " + command.args[0];
      EXPECT_EQ(run.status, command.status) << what;
      const std::vector<std::string> naming = lines_with(run.out + run.err, archive);
      ASSERT_EQ(naming.size(), 1u) << what << "\n" << run.out << run.err;
      EXPECT_EQ(naming[0].find(archive), naming[0].rfind(archive)) << what << "\n" << naming[0];
      EXPECT_FALSE(fs::exists(dir / "out")) << what;
    }
  }
  EXPECT_TRUE(snapshot(dir.path()) == before);
}

// A tar, zip, gzip, 7z or xz file given for an archive: the line that
// refuses it says what it looks like, in both programs, and a file of no
// known format gets no guess.
TEST(UnusableArchive, OtherFormatsAreNamed) {
  TempDir dir;
  std::string tar = "base-files/README" + std::string(495, '\0');
  tar.replace(257, 8, std::string("ustar\0" "00", 8));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {tar, " (it looks like a tar archive)"},
      {"PK\x03\x04\x14\0\0\0\x08\0" + pattern(100, 1), " (it looks like a zip archive)"},
      {"PK\x05\x06" + std::string(18, '\0'), " (it looks like a zip archive)"},
      {"\x1F\x8B\x08\0" + pattern(40, 2), " (it looks like a gzip file)"},
      {std::string("7z\xBC\xAF\x27\x1C\0\x04", 8) + pattern(24, 3), " (it looks like a 7z archive)"},
      {std::string("\xFD" "7zXZ\0\0\x04", 8) + pattern(24, 4), " (it looks like an xz file)"},
      {"7z" + pattern(40, 5), ""},
  };
  for (const auto& [bytes, hint] : cases) {
    const fs::path file = dir / "other";
    write_file(file, bytes);
    const RunResult kelvarin_run = kelvarin({"e", utf8(file), utf8(dir / "out")});
    const RunResult check = brq({"check", utf8(file)});
    for (const std::string& said : {kelvarin_run.out, check.out}) {
      const std::vector<std::string> lines = lines_with(said, utf8(file));
      ASSERT_EQ(lines.size(), 1u) << said;
      EXPECT_EQ(lines[0].find("(it looks like") == std::string::npos ? "" : lines[0].substr(lines[0].find(" (it looks")),
                hint)
          << lines[0];
    }
    EXPECT_EQ(std::make_tuple(kelvarin_run.status, check.status), std::make_tuple(1, 1));
  }
}

}  // namespace
}  // namespace kelvarin::testing
