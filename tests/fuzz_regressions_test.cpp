// Every input the fuzzer ever failed on, and the seed archives it starts
// from, pass the fuzzing harness's checks in the ordinary build.
#include <gtest/gtest.h>

#include "fuzz/extract_harness.h"
#include "fuzz/seed_archives.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

std::string check(const std::string& bytes) {
  return fuzz::extract_one_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzRegressions, EveryRecordedInputPassesTheHarness) {
  const fs::path folder = fs::path(KELVARIN_SOURCE_DIR) / "fuzz" / "regressions";
  int replayed = 0;
  for (const auto& item : fs::directory_iterator(folder)) {
    if (!item.is_regular_file() || item.path().filename() == "README.md") continue;
    EXPECT_EQ(check(read_file(item.path())), "") << item.path();
    ++replayed;
  }
  if (replayed == 0) GTEST_SKIP() << "the fuzzer has failed on nothing yet: " << folder;
}

TEST(FuzzRegressions, SeedArchivesPassTheHarness) {
  for (const fuzz::SeedArchive& seed : fuzz::seed_archives()) {
    EXPECT_EQ(check(seed.bytes), "") << seed.name;
  }
}

}  // namespace
}  // namespace kelvarin::testing
