// An archive that can't be opened or whose index can't be used: every
// command names it once, in one line, with its status, and creates
// nothing.
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
}

}  // namespace
}  // namespace kelvarin::testing
