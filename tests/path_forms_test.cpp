// The archive and destination paths as the user types them: past 260
// characters, with non-ASCII letters, with characters a shell would expand.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

TEST(PathForms, PathsPastTwoHundredSixtyCharactersExtract) {
  TempDir dir;
  fs::path dest = dir.path();
  // Over 511 bytes typed, no component past the file system's limit.
  for (int i = 0; i < 5; ++i) dest /= std::string(120, 's') + std::to_string(i);
  const std::string folder(100, 'f');
  const SourceNode inner = source_folder(folder, {source_file("long.bin", "payload")});
  const fs::path archive =
      write_archive(dir / "a.brq", {source_folder("", {source_folder(folder, {inner})})});
  fs::create_directories(long_form(dest.parent_path()));
  // Typed as is, then with a separator at its end, which Windows' long
  // paths would take as an empty name if it were doubled.
  for (const std::string& typed : {utf8(dest), utf8(dest) + "/"}) {
    RunResult run = run_program({"e", utf8(archive), typed});
    EXPECT_EQ(run.out, kBanner + file_line("\\" + folder + "\\" + folder + "\\long.bin", 7))
        << typed;
    EXPECT_EQ(run.status, 0);
    const fs::path written = dest / folder / folder / "long.bin";
    ASSERT_GT(utf8(written).size(), 800u);
    EXPECT_EQ(read_file(long_form(written)), "payload");
    fs::remove(long_form(written));
    remove_upwards(dest / folder / folder, dest);
  }
  remove_upwards(dest, dir.path());
}

TEST(PathForms, NonAsciiArchiveAndDestinationPathsWork) {
  TempDir dir;
  const std::string archive = utf8(dir.path()) + "/\xC3\x84rchiv \xE6\x97\xA5\xE6\x9C\xAC.brq";
  write_archive(utf8_path(archive), {source_folder("", {source_file("f.txt", "hello")})});
  const std::string dest = utf8(dir.path()) + "/Ziel\xC3\xB6rdner";
  RunResult run = run_program({"e", archive, dest});
  EXPECT_EQ(run.out, kBanner + file_line("\\f.txt", 5));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(utf8_path(dest) / "f.txt"), "hello");

  // Both are printed byte for byte as typed.
  const std::string missing_archive = utf8(dir.path()) + "/fehlt \xC3\xA9.brq";
  run = run_program({"e", missing_archive, dest});
  EXPECT_EQ(run.out, kBanner + "Unable to open file: " + missing_archive + "\n");
  const std::string missing_parent = utf8(dir.path()) + "/fehlt \xC3\xA9/out";
  run = run_program({"e", archive, missing_parent});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find("ERROR: Unable to use " + missing_parent + " as the destination folder: "),
            kBanner.size())
      << run.out;
}

TEST(PathForms, WildcardsInArgumentsAreNotExpanded) {
  TempDir dir;
  write_archive(dir / "ab.brq", {source_folder("", {source_file("f", "1")})});
  for (const std::string& pattern : {utf8(dir / "a?.brq"), utf8(dir / "a*.brq")}) {
    RunResult run = run_program({"e", pattern, utf8(dir / "out")});
    EXPECT_EQ(run.out, kBanner + "Unable to open file: " + pattern + "\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

}  // namespace
}  // namespace kelvarin::testing
