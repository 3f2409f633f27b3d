// Faults from the real OS in the middle of a file: a write that fails
// half-way (the file size limit, as a full disk would) and a run killed
// half-way. Either way the file that was there before stays byte-identical
// and nothing half-written takes its name.
#include <gtest/gtest.h>

#include "extract/entry_name.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

constexpr std::uint64_t kFileLimit = 1 << 20;

std::string pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + (i >> 12));
  return bytes;
}

// "big" outgrows the limit; "after" comes next in the walk and does not.
struct Fixture {
  TempDir dir;
  std::string big = pattern(3 * kFileLimit + 12345, 'b');
  std::string previous = pattern(70'000, 'p');
  fs::path archive;
  fs::path out = dir / "out";

  Fixture() {
    archive = write_archive(dir / "a.brq",
                            {source_folder("", {source_folder("d", {source_file("big", big)}),
                                                source_file("after", "after bytes")})});
    fs::create_directories(out / "d");
    write_file(out / "d" / "big", previous);
  }
};

TEST(InterruptedWrite, WriteFailingHalfWayKeepsThePreviousFileAndTheWalkGoesOn) {
  if (!os_faults_available()) GTEST_SKIP() << "needs POSIX file size limits and signals";
  Fixture f;
  RunResult run =
      run_program_with_file_limit({"e", f.archive.string(), f.out.string()}, kFileLimit);
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_EQ(run.out, kBanner + file_line("\\d\\big", static_cast<long>(f.big.size())) +
                         "ERROR: Unable to write file: " + f.out.string() +
                         "\\d\\big: File too large\n" + file_line("\\after", 11));
  EXPECT_EQ(snapshot(f.out), (std::map<std::string, std::string>{
                                 {"d", "<dir>"}, {"d/big", f.previous}, {"after", "after bytes"}}));
}

// The file being written has no name until it is complete, so the folder
// shows nothing of it, neither while the run is stopped half-way nor after
// it was killed. (Where a file system can't write unnamed files a leftover
// under the temporary name is what remains; FileExtraction covers that
// the next run takes it over.)
TEST(InterruptedWrite, KilledRunKeepsThePreviousFileAndLeavesNothingBehind) {
  if (!os_faults_available()) GTEST_SKIP() << "needs POSIX fork, file size limits and signals";
  Fixture f;
  const std::map<std::string, std::string> before{{"d", "<dir>"}, {"d/big", f.previous}};
  bool checked_while_stopped = false;
  const bool killed =
      kill_extraction_at_file_limit({"e", f.archive.string(), f.out.string()}, kFileLimit, [&] {
        checked_while_stopped = true;
        EXPECT_EQ(snapshot(f.out), before);
      });
  ASSERT_TRUE(killed);
  EXPECT_TRUE(checked_while_stopped);
  EXPECT_EQ(snapshot(f.out), before);

  RunResult again = run_program({"e", f.archive.string(), f.out.string()});
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(snapshot(f.out), (std::map<std::string, std::string>{
                                 {"d", "<dir>"}, {"d/big", f.big}, {"after", "after bytes"}}));
}

// A folder the run makes shows under its name only once everything in it
// is written: until then it is filled under a temporary name, where a file
// that fails is removed and which a killed run leaves behind for the next
// run to remove.
struct NewFolderFixture {
  TempDir dir;
  std::string big = pattern(3 * kFileLimit + 12345, 'n');
  fs::path archive;
  fs::path out = dir / "out";
  std::string staging{TemporaryName("d", true).text()};

  NewFolderFixture() {
    archive = write_archive(
        dir / "a.brq",
        {source_folder("", {source_folder("d", {source_file("first", "first bytes"),
                                                source_folder("e", {source_file("big", big)}),
                                                source_file("last", "last bytes")}),
                            source_file("after", "after bytes")})});
    fs::create_directories(out);
  }
};

TEST(InterruptedWrite, WriteFailingHalfWayInANewFolderLeavesTheRestOfIt) {
  if (!os_faults_available()) GTEST_SKIP() << "needs POSIX file size limits and signals";
  NewFolderFixture f;
  RunResult run =
      run_program_with_file_limit({"e", f.archive.string(), f.out.string()}, kFileLimit);
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_EQ(count_lines(run.out, "ERROR: Unable to write file: " + f.out.string() +
                                     "\\d\\e\\big: File too large"),
            1)
      << run.out;
  EXPECT_EQ(snapshot(f.out), (std::map<std::string, std::string>{{"d", "<dir>"},
                                                                  {"d/first", "first bytes"},
                                                                  {"d/e", "<dir>"},
                                                                  {"d/last", "last bytes"},
                                                                  {"after", "after bytes"}}));
}

// Files by size, so that a failure doesn't print megabytes.
std::map<std::string, std::string> sizes(const fs::path& root) {
  std::map<std::string, std::string> listing = snapshot(root);
  for (auto& [name, bytes] : listing) {
    if (bytes != "<dir>") bytes = std::to_string(bytes.size()) + " bytes";
  }
  return listing;
}

TEST(InterruptedWrite, KilledRunInANewFolderShowsNoneOfItUntilTheNextRun) {
  if (!os_faults_available()) GTEST_SKIP() << "needs POSIX fork, file size limits and signals";
  NewFolderFixture f;
  // Under the temporary name only: the file being written when it stopped.
  const std::map<std::string, std::string> left{{f.staging, "<dir>"},
                                                {f.staging + "/first", "11 bytes"},
                                                {f.staging + "/e", "<dir>"},
                                                {f.staging + "/e/big", "1048576 bytes"}};
  const bool killed = kill_extraction_at_file_limit(
      {"e", f.archive.string(), f.out.string()}, kFileLimit, [&] { EXPECT_EQ(sizes(f.out), left); });
  ASSERT_TRUE(killed);
  EXPECT_EQ(sizes(f.out), left);

  RunResult again = run_program({"e", f.archive.string(), f.out.string()});
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(sizes(f.out), (std::map<std::string, std::string>{{"d", "<dir>"},
                                                               {"d/first", "11 bytes"},
                                                               {"d/e", "<dir>"},
                                                               {"d/e/big", "3158073 bytes"},
                                                               {"d/last", "10 bytes"},
                                                               {"after", "11 bytes"}}));
  EXPECT_EQ(read_file(f.out / "d" / "e" / "big"), f.big);
}

}  // namespace
}  // namespace kelvarin::testing
