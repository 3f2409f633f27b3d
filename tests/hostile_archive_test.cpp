// Hostile archives beyond the recorded ones (fuzz/regressions/, whose
// outcomes the replay test checks): an archive cut at every byte, counts
// that claim more than the archive holds, and trees shaped to exhaust a
// recursive walk or flood the output.
#include <gtest/gtest.h>

#include <fstream>

#include "archive/archive_index.h"
#include "brq/mount_tree.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace kelvarin::testing {
namespace {

// One file entry, "solo" holding "12345", whose offset table claims
// `offset_count` words and whose name pool `pool_size` bytes, the name at
// the pool's end. Written sparse: what lies between is never written.
fs::path sparse_archive(const fs::path& path, std::uint32_t offset_count, std::uint32_t pool_size) {
  const std::uint64_t names = kHeaderSize + kEntryRecordSize + kSizeRecordSize + 4ull * offset_count;
  const std::uint64_t data = (names + pool_size + 15) / 16 * 16;
  std::uint8_t index[kHeaderSize + kEntryRecordSize + kSizeRecordSize + 4] = {};
  encode_header({0, 0, 1, offset_count, pool_size, 0}, index);
  encode_entry({kNoEntry, kNoEntry, kNoEntry, pool_size - 5}, index + kHeaderSize);
  encode_size({0, 5, 0}, index + kHeaderSize + kEntryRecordSize);
  store_u32(index + kHeaderSize + kEntryRecordSize + kSizeRecordSize, static_cast<std::uint32_t>(data / 16));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(index), sizeof index);
  out.seekp(static_cast<std::streamoff>(names + pool_size - 5));
  out.write("solo\0", 5);
  out.seekp(static_cast<std::streamoff>(data));
  out.write("12345", 5);
  EXPECT_TRUE(out.good());
  return path;
}

TEST(HostileArchive, MemoryFollowsWhatTheIndexCanUseNotWhatItClaims) {
  TempDir dir;
  // 2^27 - 1 entries claimed in 100 bytes: refused before anything is
  // allocated for them.
  std::string claim(100, '\0');
  store_u32(reinterpret_cast<std::uint8_t*>(claim.data()) + 8, (1u << 27) - 1);
  write_file(dir / "claim.brq", claim);
  const Child refused = run_in_child([&] {
    return ArchiveIndex::open(utf8(dir / "claim.brq")).fault().kind != IndexFault::Kind::index_too_large;
  });
  // One file, with 4 GiB of offset words claimed, or a 4 GiB name pool:
  // only the one word and the one name are read.
  for (const auto& [offsets, pool] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{(1u << 30) - 1, 5},
                                                                                       {1, 0xFFFFFFF0u}}) {
    const fs::path archive = sparse_archive(dir / "sparse.brq", offsets, pool);
    const fs::path out = dir / ("out" + std::to_string(offsets));
    if (!refused.ran) {  // no memory figures here
      EXPECT_TRUE(extract_with(archive, out).summary.complete());
      continue;
    }
    const Child loaded = run_in_child([&] { return extract_with(archive, out).summary.complete() ? 0 : 1; });
    EXPECT_EQ(std::make_pair(refused.status, loaded.status), std::make_pair(0, 0)) << offsets;
    EXPECT_EQ(read_file(out / "solo"), "12345") << offsets;
    EXPECT_LT(loaded.peak_kib, refused.peak_kib + 64 * 1024) << offsets;
  }
}

// Cut before the index ends, the archive is refused whole (status 1, one
// line, nothing made); after, the files whose data are cut are skipped.
TEST(HostileArchive, ArchiveCutAtEveryByte) {
  const std::vector<SourceNode> top_level = {
      source_folder("", {source_folder("d", {source_folder("e", {source_file("f", "FFFF")}), source_file("g", "GG")}),
                         source_file("h", "HHHHHHHH")}),
      source_folder("s", {source_file("t", "T")})};
  const ArchiveLayout layout = lay_out(top_level).value();
  const std::string whole = archive_bytes(layout);
  const std::size_t index_end = index_size(8, 4, layout.name_pool.size());
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    TempDir sandbox;
    write_file(sandbox / "a.brq", whole.substr(0, cut));
    const RunResult run = kelvarin({"e", utf8(sandbox / "a.brq"), utf8(sandbox / "out")});
    const std::string what = "cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()) + "\n" + run.out;
    EXPECT_EQ(strays(sandbox.path(), "out", {"a.brq"}), std::vector<std::string>{}) << what;
    EXPECT_EQ(fs::exists(sandbox / "out"), cut >= index_end) << what;
    const std::string cause = cut < kHeaderSize ? "too short" : cut < index_end ? "but the archive has " + std::to_string(cut)
                              : cut < whole.size() ? "end beyond the archive's end (" + std::to_string(cut) + " bytes)" : "";
    EXPECT_EQ(run.status, cut < index_end ? 1 : cut < whole.size() ? 2 : 0) << what;
    EXPECT_EQ(count_lines(run.out, "ERROR: "), count_lines(run.out, cut < index_end ? "ERROR: " : "ERROR: Skipping entry "));
    EXPECT_TRUE(cut >= index_end || count_lines(run.out, "") == 4) << what;  // the banner's three and one
    EXPECT_NE(run.out.find(cause), std::string::npos) << what;
  }
}

// A root holding `depth` folders named `name`, each inside the one before,
// the deepest holding a file. Laid out by hand: a tree this deep in
// SourceNodes would take the call stack down with it when destroyed, and
// all the folders share their name in the pool.
std::string nested_archive(std::uint32_t depth, const std::string& name = "d") {
  static const std::vector<SourceNode> leaf = {source_file("leaf", "L")};
  ArchiveLayout layout = lay_out(leaf).value();  // its bytes are the leaf's
  const std::uint32_t entries = depth + 2;
  layout.entries.assign(entries, {});
  layout.sizes.assign(entries, {});
  layout.name_pool = std::string(1, '\0') + name + std::string(1, '\0') + "leaf" + std::string(1, '\0');
  for (std::uint32_t i = 0; i + 1 < entries; ++i) {
    layout.entries[i].first_child = static_cast<std::int32_t>(i + 1);
    layout.entries[i].name_offset = i == 0 ? 0 : 1;
  }
  layout.entries.back().name_offset = static_cast<std::uint32_t>(name.size() + 2);
  layout.sizes.back().file_size = 1;
  layout.header.entry_count = static_cast<std::int32_t>(entries);
  layout.header.offset_count = 1;
  layout.header.name_pool_size = static_cast<std::uint32_t>(layout.name_pool.size());
  const std::uint64_t data = (index_size(entries, 1, layout.name_pool.size()) + 15) / 16 * 16;
  layout.offsets = {static_cast<std::uint32_t>(data / 16)};
  layout.data = {{data, file_number(leaf[0])}};
  return archive_bytes(layout);
}

// The folders can be made: down to 512 levels, then one line for the rest.
TEST(HostileArchive, FourHundredThousandLevelsStopAtTheDepthLimit) {
  TempDir dir;
  write_file(dir / "a.brq", nested_archive(400'000));
  const RunResult deep = kelvarin({"e", utf8(dir / "a.brq"), utf8(dir / "out")});
  EXPECT_EQ(deep.status, 2);
  std::string refused_path = "\\";
  for (int level = 0; level < 513; ++level) refused_path += "d\\";
  refused_path.pop_back();
  EXPECT_EQ(deep.out, kBanner + "ERROR: Skipping entry 513, " + refused_path + ": it lies inside 513 folders, more "
                          "than the 512 a tree may nest; the 399488 entries inside it are skipped\n");
  fs::path deepest = dir / "out";
  for (int level = 0; level < 512; ++level) deepest /= "d";
  EXPECT_TRUE(fs::is_directory(long_form(deepest)));
  EXPECT_FALSE(fs::exists(long_form(deepest / "d")));
  remove_upwards(deepest, dir / "out");
}

// 3,000 folders, each named with 1,024 bytes, in an archive of 85 KB: every
// path past 4,096 bytes is refused with all it holds, so every command's
// time, memory and output stay a small multiple of the archive.
TEST(HostileArchive, LongPathsStayLinearInEveryCommand) {
  TempDir dir;
  write_file(dir / "a.brq", nested_archive(3000, std::string(1024, 'n')));
  const std::string archive = utf8(dir / "a.brq");
  const std::uintmax_t size = fs::file_size(dir / "a.brq");
  EXPECT_LT(size, 100'000u);
  struct Command {
    std::vector<std::string> args;
    int status;
    bool brq = true;
  };
  for (const Command& command : std::vector<Command>{
           {{"e", archive, utf8(dir / "e")}, 2, false},
           {{"list", archive}, 2},
           {{"list", "--json", archive}, 2},
           {{"check", archive}, 2},
           {{"extract", archive, utf8(dir / "x"), "**/leaf"}, 2},
           {{"cat", archive, "**/leaf"}, 2},
           {{"diff", archive, archive}, 2}}) {
    const RunResult run = command.brq ? brq(command.args) : kelvarin(command.args);
    EXPECT_EQ(run.status, command.status) << command.args[0];
    EXPECT_LT(run.out.size() + run.err.size(), size / 4) << command.args[0] << "\n" << run.err.substr(0, 300);
    // No disk takes a name of 1,024 bytes: what writes fails there first,
    // in the OS's own words.
    if (command.args[0] == "e" || command.args[0] == "extract") continue;
    EXPECT_NE((run.out + run.err).find("more than the 4096 a path may have; the 2997 entries inside it are skipped\n"),
              std::string::npos)
        << command.args[0];
  }
  Result<ArchiveIndex> index = ArchiveIndex::open(archive);
  Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, CaseRule::exact());
  std::string left_out;
  const brq::MountTree tree(index.value(), plan.value(), [&](const std::string& line) { left_out += line; });
  // A mounted folder holds names of 255 bytes at most: the first is left out.
  EXPECT_EQ(count_lines(left_out, "ERROR: Skipping entry 1, "), 1) << left_out.substr(0, 300);
  EXPECT_NE(left_out.find("; the 3000 entries inside it are skipped\n"), std::string::npos);
  EXPECT_EQ(tree.node_count(), 1u);
}

// An archive claiming 4,000,000 entries, cut sparse to its tables, where
// the process may take little more than its index: what the plan would
// need is one line and status 1, never an abort.
TEST(HostileArchive, MemoryRunningOutIsOneLineNeverAnAbort) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs fork and a memory limit (which AddressSanitizer's reservations exceed)";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer's reservations exceed any memory limit";
#endif
#endif
#ifndef _WIN32
  TempDir dir;
  constexpr std::uint32_t kEntries = 4'000'000;
  std::uint8_t header[kHeaderSize] = {};
  encode_header({0, 0, static_cast<std::int32_t>(kEntries), 0, 0, 0}, header);
  write_file(dir / "many.brq", std::string(reinterpret_cast<const char*>(header), sizeof header));
  fs::resize_file(dir / "many.brq", index_size(kEntries, 0, 0));
  const std::string archive = utf8(dir / "many.brq");
  fs::create_directories(dir / "folder");
  write_file(dir / "folder" / "f", "f");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", archive, "x"}, {"extract", archive, utf8(dir / "out"), "x"}, {"cat", archive, "x"},
           {"list", "--exclude", "x", archive}, {"check", archive}, {"diff", archive, archive},
           {"diff", utf8(dir / "folder"), archive}}) {
    const Child child = run_in_child([&] {
      // The address space now, the index's 112 MB, and 60 MB more.
      std::uint64_t pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (172u << 20);
      const struct rlimit memory {limit, limit};
      if (::setrlimit(RLIMIT_AS, &memory) != 0) return 120;
      const RunResult run = brq(args);
      std::fputs(run.err.c_str(), stdout);
      return run.status;
    });
    // For diff, 1 would say the two differ.
    EXPECT_EQ(child.status, args[0] == "diff" ? 2 : 1) << args[0] << "\n" << child.out;
    EXPECT_GE(count_lines(child.out, "ERROR: "), 1) << args[0] << "\n" << child.out;
    EXPECT_LE(count_lines(child.out, "ERROR: "), args[0] == "diff" ? 2 : 1) << args[0] << "\n" << child.out;
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
#endif
}

}  // namespace
}  // namespace kelvarin::testing
