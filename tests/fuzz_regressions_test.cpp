// The recorded archives: each passes the fuzzing harness's checks in the
// ordinary build, and Kelvarin_Extract, brq check and the C API (from the
// file and from memory) make of each what outcomes.txt says.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <set>

#include "extract/extraction_plan.h"
#include "fuzz/extract_harness.h"
#include "kelvarin.h"
#include "names/entry_pattern.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

const fs::path kFolder = fs::path(KELVARIN_SOURCE_DIR) / "fuzz" / "regressions";

// What the C API makes of an archive, as a program's status (0, 1 or 2),
// the number of entries it names as left out or failed, and the first
// message. From memory when `bytes` is given.
struct ApiOutcome {
  int status = 0;
  int told = 0;
  std::string first;
};

// The handle lists each entry at the walk's path, and a lookup of a path
// finds the file an extraction leaves there (of a name held twice, the
// later file; not an entry left out before it), else the first entry
// there in walk order.
void expect_walk_paths(kelvarin_archive* handle, const std::string& archive) {
  struct Paths final : PlanVisitor {
    std::vector<std::string> listed;
    bool enter_folder(const EntryVisit& folder, const PlannedEntry&) override {
      listed.push_back(listed_path(folder));
      return true;
    }
    void visit(const EntryVisit& entry, const PlannedEntry&) override { listed.push_back(listed_path(entry)); }
  } walk;
  OpenedIndex index = ArchiveIndex::open(archive);
  ASSERT_TRUE(index.ok()) << archive;
  Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, kUsualCaseRule);
  ASSERT_TRUE(plan.ok());
  plan.value().replay(index.value(), walk);
  ASSERT_EQ(kelvarin_entry_count(handle), walk.listed.size()) << archive;
  // Each path's first entry, and the file written there where there is one.
  std::map<std::string, std::size_t> answer;
  std::set<std::string> written;
  for (std::size_t at = 0; at < walk.listed.size(); ++at) {
    const std::string& path = walk.listed[at];
    kelvarin_entry entry;
    ASSERT_EQ(kelvarin_entry_at(handle, at, &entry), KELVARIN_OK);
    EXPECT_EQ(std::string(entry.path, entry.path_size), path) << archive << " entry " << at;
    answer.try_emplace(path, at);
    if (entry.kind == KELVARIN_FILE && entry.fate == KELVARIN_WRITTEN && written.insert(path).second) {
      answer[path] = at;
    }
  }
  for (const auto& [path, expected] : answer) {
    if (normalise_entry_path(path) != path) continue;
    std::size_t found = 0;
    ASSERT_EQ(kelvarin_find(handle, path.c_str(), &found), KELVARIN_OK) << archive << ": " << path;
    kelvarin_entry there;
    ASSERT_EQ(kelvarin_entry_at(handle, expected, &there), KELVARIN_OK);
    if (there.fate == KELVARIN_REPLACED) {
      ASSERT_EQ(kelvarin_entry_at(handle, found, &there), KELVARIN_OK);
      EXPECT_EQ(std::string(there.path), path);
      EXPECT_EQ(there.fate, KELVARIN_WRITTEN) << archive << ": " << path;
    } else {
      EXPECT_EQ(found, expected) << archive << ": " << path;
    }
  }
}

ApiOutcome through_api(const std::string& archive, const std::string* bytes, const fs::path& out) {
  ApiOutcome outcome;
  kelvarin_archive* handle = kelvarin_archive_new();
  kelvarin_reader reader{};
  if (bytes != nullptr) {
    reader.user = const_cast<std::string*>(bytes);
    reader.size = bytes->size();
    reader.read = [](void* user, std::uint64_t at, void* into, std::size_t count) -> std::int64_t {
      const auto& memory = *static_cast<const std::string*>(user);
      std::memcpy(into, memory.data() + at, count);
      return static_cast<std::int64_t>(count);
    };
  }
  const kelvarin_kind opened =
      bytes != nullptr ? kelvarin_open_reader(handle, &reader) : kelvarin_open_path(handle, archive.c_str());
  if (opened != KELVARIN_OK) {
    outcome = {opened == KELVARIN_BAD_ARCHIVE ? 1 : -1, 1, kelvarin_error_message(handle)};
  } else {
    if (bytes == nullptr) expect_walk_paths(handle, archive);
    kelvarin_extract_options options;
    kelvarin_extract_options_init(&options);
    options.user = &outcome;
    options.on_event = [](void* user, const kelvarin_event* event) {
      auto& told = *static_cast<ApiOutcome*>(user);
      if (event->kind != KELVARIN_EVENT_LEFT_OUT && event->kind != KELVARIN_EVENT_FAILED) return 0;
      if (told.told++ == 0) told.first = event->message;
      return 0;
    };
    const kelvarin_kind extracted = kelvarin_extract(handle, utf8(out).c_str(), &options);
    outcome.status = extracted == KELVARIN_OK ? 0 : extracted == KELVARIN_PARTIAL ? 2 : -1;
  }
  kelvarin_archive_free(handle);
  return outcome;
}

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
    // The API's words are brq's, a '/' path where Kelvarin_Extract prints '\'.
    const std::string first_words = first.empty() ? "" : first.substr(7);
    const std::string bytes = read_file(kFolder / fields[0]);
    for (const std::string* from_memory : {static_cast<const std::string*>(nullptr), &bytes}) {
      const ApiOutcome api = through_api(archive, from_memory, dir / (from_memory ? "memory" : "file"));
      EXPECT_EQ(api.status, run.status) << fields[0];
      EXPECT_EQ(api.told, count(fields[2])) << fields[0];
      if (from_memory == nullptr && first_words.find('\\') == std::string::npos) {
        EXPECT_EQ(api.first.substr(0, first_words.size()), first_words) << fields[0];
      }
    }
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
