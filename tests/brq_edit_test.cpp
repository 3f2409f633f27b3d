// brq add, rm, mv and sync against a model: the same random edits made to
// a folder on disk and to the archive packed from it, the extraction equal
// to the folder after each; the same edit giving the same bytes; a dry run
// changing nothing; what is refused changing nothing; an edit killed at
// spread moments leaving the old archive or the new one whole; a reader
// keeping the old bytes; two edits at once never losing one.
#include <gtest/gtest.h>

#include <random>

#include "archive/archive_index.h"
#include "extract/archive_edit.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace kelvarin::testing {
namespace {

// The folder's tree as an extraction of `archive` leaves it.
Tree extracted(const fs::path& archive, const fs::path& scratch) {
  fs::remove_all(scratch);
  EXPECT_EQ(brq({"extract", "-q", utf8(archive), utf8(scratch)}).status, 0);
  return snapshot(scratch);
}

// The paths below `root`, folders and files, in a stable order.
std::vector<std::string> paths_in(const fs::path& root) {
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : snapshot(root)) paths.push_back(path);
  return paths;
}

// One edit run on the archive and on a copy of it, which must end the
// same, byte for byte.
RunResult edit_twice(const std::vector<std::string>& args, const fs::path& archive, const fs::path& copy) {
  fs::remove(copy);  // overwrite_existing fails under mingw's library
  fs::copy_file(archive, copy);
  std::vector<std::string> on_copy = args;
  on_copy[1] = utf8(copy);
  // A dry run first: told, not done.
  std::vector<std::string> dry = args;
  dry.insert(dry.begin() + 1, "-n");
  const std::string before = read_file(archive);
  const RunResult told = brq(dry);
  EXPECT_EQ(read_file(archive), before);
  const RunResult done = brq(args);
  EXPECT_EQ(told.out, done.out);
  brq(on_copy);
  EXPECT_EQ(read_file(archive), read_file(copy)) << args[0];
  return done;
}

TEST(BrqEdit, RandomEditsEqualTheSameEditsOfAFolder) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const auto name = [&] { return std::string(1, static_cast<char>('a' + pick(5))) + (pick(2) ? ".x" : ""); };
    TempDir dir;
    const fs::path model = dir / "model", incoming = dir / "in", archive = dir / "a.brq";
    // A random tree: folders two deep, files of sizes across a few blocks.
    const auto grow = [&](const fs::path& root, int files) {
      for (int i = 0; i < files; ++i) {
        fs::path at = root;
        for (std::size_t depth = pick(3); depth > 0; --depth) at /= name();
        std::error_code blocked;  // a file on the way
        fs::create_directories(at, blocked);
        if (blocked) continue;
        const fs::path file = at / name();
        if (!fs::is_directory(file)) write_file(file, pattern(pick(3) == 0 ? 0 : pick(9000), random()));
      }
    };
    grow(model, 12);
    fs::create_directories(model / "keep");
    ASSERT_EQ(brq({"pack", utf8(model), utf8(archive)}).status, 0);
    for (int step = 0; step < 8; ++step) {
      const std::vector<std::string> paths = paths_in(model);
      const std::string some = paths.empty() ? "keep" : paths[pick(paths.size())];
      RunResult result;
      switch (pick(4)) {
        case 0:
          fs::remove_all(model / some);
          result = edit_twice({"rm", utf8(archive), some}, archive, dir / "copy.brq");
          break;
        case 1: {
          std::string to = name();
          const std::string folder = paths.empty() ? "" : paths[pick(paths.size())];
          if (fs::is_directory(model / folder) && !folder.starts_with(some)) to = folder + "/" + to;
          if (fs::exists(model / to) || to.starts_with(some + "/") || to == some) continue;
          fs::rename(model / some, model / to);
          result = edit_twice({"mv", utf8(archive), some, to}, archive, dir / "copy.brq");
          break;
        }
        case 2: {
          fs::remove_all(incoming);
          grow(incoming, 4);
          const std::vector<std::string> added = paths_in(incoming);
          if (added.empty()) continue;
          const std::string path = added[pick(added.size())];
          const fs::path parent = (model / path).parent_path();
          bool blocked = false;
          for (fs::path on = parent; on != model && !blocked; on = on.parent_path()) {
            blocked = fs::exists(on) && !fs::is_directory(on);
          }
          if (blocked) continue;
          fs::remove_all(model / path);
          fs::create_directories(parent);
          fs::copy(incoming / path, model / path, fs::copy_options::recursive);
          result = edit_twice({"add", utf8(archive), "-C", utf8(incoming), path}, archive, dir / "copy.brq");
          break;
        }
        default: {
          // Files changed in their bytes only, in their size, new, gone.
          for (const std::string& path : paths) {
            if (fs::is_directory(model / path) || pick(3) != 0) continue;
            const std::string bytes = read_file(model / path);
            write_file(model / path, pick(2) ? pattern(bytes.size(), random()) : bytes + "!");
          }
          if (!paths.empty()) fs::remove_all(model / paths[pick(paths.size())]);
          grow(model, 2);
          result = edit_twice({"sync", utf8(archive), utf8(model)}, archive, dir / "copy.brq");
        }
      }
      ASSERT_EQ(result.status, 0) << result.err;
      ASSERT_EQ(extracted(archive, dir / "out"), snapshot(model)) << result.out;
      ASSERT_EQ(brq({"check", utf8(archive)}).status, 0);
    }
  }
}

TEST(BrqEdit, RefusalsChangeNothing) {
  TempDir dir;
  const std::vector<SourceNode> tree = {source_folder(
      "", {source_folder("d", {source_file("a", "AAA"), source_file("b", "BB")}), source_file("c", "C")})};
  const fs::path archive = write_archive(dir / "a.brq", tree);
  fs::create_directories(dir / "in" / "x");
  write_file(dir / "in" / "C", "x");
  write_file(dir / "in" / "cc", "x");
  write_file(dir / "in" / "x" / "c", "x");
  // Names Windows can't hold, or holds as one.
  if (!kOnWindows) write_file(dir / "in" / "CON.txt", "x");
  if (!kOnWindows) write_file(dir / "in" / "x" / "C", "x");
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string a = utf8(archive), in = utf8(dir / "in");
  std::string deep = "e", long_path(900, 'n');
  for (int i = 1; i < 513; ++i) deep += "/e";
  for (int i = 1; i < 5; ++i) long_path += "/" + std::string(900, 'n');
  const std::vector<Row> rows = {
      {{"mv", a, "c", "d/a"}, 2, "ERROR: d/a is there already; nothing changed\n"},
      {{"mv", a, "d", "d/e/f"}, 2, "ERROR: Unable to move d into itself; nothing changed\n"},
      {{"mv", a, "c", "c/e"}, 2, "ERROR: c is a file, not a folder; nothing changed\n"},
      {{"mv", a, "nothing", "e"}, 2, "ERROR: No entry named nothing; nothing changed\n"},
      // What no extraction would take: too deep, a path too long.
      {{"mv", a, "d", deep}, 2, " would lie inside more than 512 folders, more than an extraction takes"},
      {{"mv", a, "c", long_path}, 2, " would be longer than 4096 bytes, more than an extraction takes"},
      {{"mv", a, "c", "C"}, 0, ""},  // its own name in other letters
      {{"mv", a, "d", "D/e"}, 0, ""},
      {{"rm", a, "nothing"}, 2, "ERROR: No entry named nothing in " + a + "\n"},
      {{"add", a, "-C", in, "CON.txt"}, 2, "ERROR: CON.txt: "},
      {{"add", a, "-C", in, "C"}, 2, "ERROR: C: differs only in case from c"},
      {{"add", a, "-C", in, "x"}, 2, "ERROR: Nothing changed: 1 entry would not come back"},
      {{"add", "--allow-unportable", a, "-C", in, "C"}, 0, ""},
  };
  for (const Row& row : rows) {
    if (kOnWindows && (row.args.back() == "CON.txt" || row.args.back() == "x")) continue;
    SCOPED_TRACE(row.args[0] + " " + row.args[2]);
    const std::string before = read_file(archive);
    const RunResult result = brq(row.args);
    EXPECT_EQ(result.status, row.status);
    EXPECT_TRUE(result.err.find(row.err) != std::string::npos) << result.err;
    if (row.status == 0) write_archive(archive, tree);
    if (row.status != 0) {
      EXPECT_EQ(read_file(archive), before);
    }
  }
  // An entry the extraction leaves out refuses the edit, unless dropped.
  ArchiveLayout layout = lay_out(tree).value();
  layout.sizes[2].file_size = -5;
  write_layout(archive, layout);
  RunResult refused = brq({"rm", a, "c"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("Nothing changed: 1 entry is left out"), std::string::npos) << refused.err;
  EXPECT_EQ(brq({"rm", "--drop-damaged", a, "c"}).status, 0);
  EXPECT_EQ(brq({"check", a}).status, 0);
  EXPECT_EQ(brq({"cat", a, "d/b"}).out, "BB");
  write_file(archive, "not an archive at all, much too short");
  EXPECT_EQ(brq({"rm", a, "c"}).status, 1);
}

#ifndef _WIN32
TEST(BrqEdit, KilledAtSpreadMomentsLeavesTheOldOrTheNewArchiveWhole) {
  TempDir dir;
  std::vector<SourceNode> files;
  for (int i = 0; i < 40; ++i) files.push_back(source_file("f" + std::to_string(i), pattern(1 << 20, i)));
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", std::move(files))});
  write_file(dir / "new.bin", pattern(3 << 20, 99));
  const std::vector<std::string> edit = {"add", utf8(archive), "-C", utf8(dir.path()), "new.bin"};
  const std::string old_bytes = read_file(archive);
  ASSERT_EQ(brq(edit).status, 0);
  const std::string new_bytes = read_file(archive);
  int old_seen = 0, new_seen = 0;
  for (int delay_us = 0; delay_us <= 40'000; delay_us += 2'000) {
    write_file(archive, old_bytes);
    const int child = start_child([&] { return brq(edit).status; });
    ::usleep(static_cast<useconds_t>(delay_us));
    ::kill(child, SIGKILL);
    wait_child(child);
    const std::string now = read_file(archive);
    ASSERT_TRUE(now == old_bytes || now == new_bytes) << delay_us;
    (now == old_bytes ? old_seen : new_seen) += 1;
    // The next run finishes the edit and leaves nothing of the killed one.
    ASSERT_EQ(brq(edit).status, 0);
    EXPECT_EQ(read_file(archive), new_bytes);
    for (const auto& item : fs::directory_iterator(dir.path())) {
      EXPECT_FALSE(item.path().filename().string().starts_with(".kelvarin-")) << item.path();
    }
  }
  EXPECT_GT(old_seen, 0);
}

TEST(BrqEdit, AFullDiskLeavesTheOldArchiveAndNothingElse) {
  TempDir dir;
  const fs::path small = dir / "small";
  fs::create_directory(small);
  if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=3m") != 0) {
    GTEST_SKIP() << "a small tmpfs needs root";
  }
  std::vector<SourceNode> files;
  for (int i = 0; i < 4; ++i) files.push_back(source_file("f" + std::to_string(i), pattern(400'000, i)));
  const fs::path archive = write_archive(small / "a.brq", {source_folder("", std::move(files))});
  const std::string old_bytes = read_file(archive);
  write_file(dir / "big.bin", pattern(1'500'000, 7));
  for (const std::vector<std::string>& edit :
       {std::vector<std::string>{"add", utf8(archive), "-C", utf8(dir.path()), "big.bin"},
        {"mv", utf8(archive), "f0", "g0"}}) {
    const RunResult run = brq(edit);
    EXPECT_EQ(run.status, 1) << edit[0];
    EXPECT_NE(run.err.find("Unable to change " + utf8(archive)), std::string::npos) << run.err;
    EXPECT_EQ(read_file(archive), old_bytes) << edit[0];
    EXPECT_EQ(paths_in(small), std::vector<std::string>{"a.brq"}) << edit[0];
  }
  ::umount(small.c_str());
}
#endif

TEST(BrqEdit, AReaderKeepsTheOldBytesAndASecondEditIsRefusedNeverLost) {
  TempDir dir;
  std::vector<SourceNode> files;
  for (int i = 0; i < 8; ++i) files.push_back(source_file("f" + std::to_string(i), pattern(200'000, i)));
  const fs::path archive = write_archive(dir / "a.brq", {source_folder("", std::move(files))});
  const std::string old_bytes = read_file(archive);
  {
    // An edit in progress holds the archive.
    OpenedIndex held = ArchiveIndex::open(utf8(archive));
    ASSERT_TRUE(held.ok());
    EditTarget target;
    bool replaced = true;
    ASSERT_TRUE(take_for_edit(held.value(), target, replaced).ok());
    EXPECT_FALSE(replaced);
    for (const std::vector<std::string>& change :
         {std::vector<std::string>{"rm", utf8(archive), "f1"}, {"compact", utf8(archive)}}) {
      const RunResult refused = brq(change);
      EXPECT_EQ(std::make_pair(refused.status, refused.err),
                std::make_pair(1, "ERROR: Unable to change " + utf8(archive) + ": another edit is changing it\n"))
          << change[0];
      EXPECT_EQ(read_file(archive), old_bytes) << change[0];
    }
  }
  platform::FileHandle reader;
  ASSERT_TRUE(platform::open_archive(utf8(archive), reader).ok());
  // Windows replaces no file a reader holds: there the edit is refused.
  const RunResult removed = brq({"rm", utf8(archive), "f0"});
#ifdef _WIN32
  EXPECT_EQ(removed.status, 1) << removed.err;
  EXPECT_EQ(read_file(archive), old_bytes);
#else
  EXPECT_EQ(removed.status, 0) << removed.err;
#endif
  std::string seen(old_bytes.size(), '\0');
  std::size_t got = 0;
  ASSERT_TRUE(platform::read_at(reader, 0, seen.data(), seen.size(), got).ok());
  EXPECT_EQ(seen, old_bytes);
#ifndef _WIN32
  // Two edits at once, or an edit and a compact: each done, or refused and
  // said; none lost.
  for (int round = 2; round < 8; round += 2) {
    const bool compacting = round > 2;
    const std::string first = "f" + std::to_string(round), second = "f" + std::to_string(round + 1);
    const int one = start_child([&] { return brq({"rm", utf8(archive), first}).status; });
    const int two = start_child([&] {
      return brq(compacting ? std::vector<std::string>{"compact", utf8(archive)}
                            : std::vector<std::string>{"rm", utf8(archive), second})
          .status;
    });
    const int status_one = wait_child(one), status_two = wait_child(two);
    const std::string listed = brq({"list", utf8(archive)}).out;
    for (const auto& [status, name] : {std::pair{status_one, first}, std::pair{status_two, second}}) {
      ASSERT_TRUE(status == 0 || status == 1) << status;
      if (compacting && name == second) continue;
      EXPECT_EQ(listed.find("  " + name + "\n") == std::string::npos, status == 0) << name << "\n" << listed;
    }
  }
#endif
}

}  // namespace
}  // namespace kelvarin::testing
