// The recorded archives: each passes the fuzzing harness's checks in the
// ordinary build, and Kelvarin_Extract and brq check make of each what
// outcomes.txt says.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <set>

#include "fuzz/extract_harness.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

const fs::path kFolder = fs::path(KELVARIN_SOURCE_DIR) / "fuzz" / "regressions";

TEST(FuzzRegressions, EveryRecordedInputPassesTheHarness) {
  int replayed = 0;
  for (const auto& item : fs::directory_iterator(kFolder)) {
    if (item.path().extension() == ".md" || item.path().extension() == ".txt") continue;
    const std::string bytes = read_file(item.path());
    EXPECT_EQ(fuzz::extract_one_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
        << item.path();
    ++replayed;
  }
  EXPECT_GE(replayed, 40);
}

TEST(FuzzRegressions, EachRecordedArchiveGivesItsRecordedOutcome) {
  std::ifstream outcomes(kFolder / "outcomes.txt");
  std::string line;
  std::set<std::string> listed;
  while (std::getline(outcomes, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;  // the last one may hold anything
    std::istringstream columns(line);
    for (std::string field; fields.size() < 5 && std::getline(columns, field, '|');) fields.push_back(field);
    fields.emplace_back(std::istreambuf_iterator<char>(columns), std::istreambuf_iterator<char>());
    auto count = [](const std::string& counts) {
      const std::size_t comma = counts.find(',');
      return std::stoi(kOnWindows && comma != std::string::npos ? counts.substr(comma + 1) : counts);
    };
    std::string first = fields[5];
    const std::string archive = utf8(kFolder / fields[0]);
    if (first.find("<archive>") != std::string::npos) first.replace(first.find("<archive>"), 9, archive);
    TempDir dir;
    const RunResult run = kelvarin({"e", archive, utf8(dir / "out")});
    EXPECT_EQ(run.status, std::stoi(fields[1])) << fields[0];
    EXPECT_EQ(count_lines(run.out, "ERROR: "), count(fields[2])) << fields[0] << "\n" << run.out;
    const std::size_t at = run.out.find("ERROR: ");
    EXPECT_EQ(at == std::string::npos ? "" : run.out.substr(at, first.size()), first) << fields[0];
    EXPECT_EQ(fs::exists(dir / "out"), run.status != 1) << fields[0];
    const RunResult check = brq({"check", archive});
    EXPECT_EQ(check.status, std::stoi(fields[3])) << fields[0] << "\n" << check.out;
    EXPECT_EQ(count_lines(check.out, "problem: "), count(fields[4])) << fields[0] << "\n" << check.out;
    listed.insert(fields[0]);
  }
  for (const auto& item : fs::directory_iterator(kFolder)) {
    EXPECT_TRUE(item.path().extension() != ".brq" || listed.count(item.path().filename().string()) == 1) << item.path();
  }
}

}  // namespace
}  // namespace kelvarin::testing
