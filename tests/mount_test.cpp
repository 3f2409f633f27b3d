// brq mount: the mount's tree against what the extraction writes (names it
// refuses or can't write, folders merged and files replaced under one
// name, the root and its siblings, every recorded hostile archive), and,
// where FUSE can be used here, a real mount read through the kernel and
// unmounted again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "brq/mount_tree.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

using brq::MountTree;

// The mount's tree in the form snapshot() gives a folder on disk.
Tree shown_tree(const MountTree& tree, std::uint32_t folder = 0, const std::string& path = "") {
  Tree shown;
  for (auto node = tree.first_child(folder); node != MountTree::kNone; node = tree.next_sibling(node)) {
    const std::string at = path + std::string(tree.name(node));
    if (tree.is_folder(node)) {
      shown[at] = "<dir>";
      shown.merge(shown_tree(tree, node, at + "/"));
      continue;
    }
    std::string bytes(tree.file_size(node), '\0');
    EXPECT_TRUE(tree.read(node, 0, bytes.data(), bytes.size()).ok()) << at;
    shown[at] = bytes;
  }
  return shown;
}

std::vector<std::string> names_in(const MountTree& tree, std::uint32_t folder) {
  std::vector<std::string> names;
  for (auto node = tree.first_child(folder); node != MountTree::kNone; node = tree.next_sibling(node)) {
    names.emplace_back(tree.name(node));
  }
  return names;
}

// The mount's tree of an archive, and the lines of what it leaves out.
struct Mounted {
  Result<ArchiveIndex> index;
  Result<ExtractionPlan> plan;
  std::string left_out;
  MountTree tree;

  explicit Mounted(const fs::path& archive)
      : index(ArchiveIndex::open(utf8(archive))),
        plan(ExtractionPlan::make(index.value(), nullptr, CaseRule::exact())),
        tree(index.value(), plan.value(), [this](const std::string& line) { left_out += line; }) {}
};

// Mounts `archive` and extracts it; the trees must be the same.
void expect_mounts_as_it_extracts(const fs::path& archive, const fs::path& out) {
  const Extracted extracted = extract_with(archive, out);
  if (!ArchiveIndex::open(utf8(archive)).ok()) return;
  const Mounted mounted(archive);
  EXPECT_EQ(shown_tree(mounted.tree), snapshot(out)) << archive << "\n" << extracted.lines;
}

TEST(MountTree, ShowsExactlyWhatTheExtractionWrites) {
  TempDir dir;
  const std::string too_long(256, 'n');
  for (const std::string root : {"", "named"}) {
    const std::vector<SourceNode> tree = {
        source_folder(root, {source_file("z", "first z"), source_folder("d", {source_file("a", "1")}),
                             source_file("x", "file x"), source_folder("x", {source_file("lost", "")}),
                             source_folder("d", {source_file("a", "2"), source_file("b", "")}),
                             source_folder("", {source_file("z", "z from a folder without a name")}),
                             source_file("..", "up"), source_file(".kelvarin-0123456789abcdef.part", "t"),
                             source_file(too_long, "long"), source_folder("y"), source_file("y", "file y")}),
        source_file("sibling", "beside the root"), source_folder("d", {source_file("c", "3")})};
    const fs::path archive = write_archive(dir / (root + ".brq"), tree);
    expect_mounts_as_it_extracts(archive, dir / (root + "-out"));

    ASSERT_TRUE(ArchiveIndex::open(utf8(archive)).ok());
    const Mounted shown(archive);
    const MountTree& mounted = shown.tree;
    // In the archive's order; a file of a name taken before stays where the
    // first one was, with the later one's bytes.
    const std::vector<std::string> top = {"z", "d", "x", "y", "sibling"};
    EXPECT_EQ(names_in(mounted, 0), root.empty() ? top : std::vector<std::string>({"named", "sibling", "d"}));
    // x as a folder, .., the temporary name, the long name, y as a file.
    EXPECT_EQ(count_lines(shown.left_out, "ERROR: Skipping entry "), 5) << shown.left_out;
  }
}

TEST(MountTree, EveryRecordedArchiveMountsAsItExtracts) {
  int replayed = 0;
  for (const auto& item : fs::directory_iterator(fs::path(KELVARIN_SOURCE_DIR) / "fuzz" / "regressions")) {
    if (item.path().extension() != ".brq") continue;
    TempDir dir;
    expect_mounts_as_it_extracts(item.path(), dir / "out");
    ++replayed;
  }
  EXPECT_GE(replayed, 40);
}

TEST(BrqMount, UnusableArchiveIsRefusedBeforeMounting) {
  TempDir dir;
  write_file(dir / "short.brq", "BRQ");
  for (const char* archive : {"short.brq", "missing.brq"}) {
    const RunResult run = brq({"mount", utf8(dir / archive), utf8(dir.path())});
    EXPECT_EQ(std::make_pair(run.status, count_lines(run.err, "ERROR: ")), std::make_pair(1, 1)) << run.err;
  }
  EXPECT_NE(brq({"mount", "--help"}).out.find("'fusermount3 -u MOUNTPOINT' unmounts"), std::string::npos);
}

// The probe that keeps a second mount off a mount point: the top of all is
// one, a folder of the temporary folder's file system is not.
TEST(BrqMount, MountPointsAreToldFromFolders) {
  TempDir dir;
  bool mounted = false;
  ASSERT_TRUE(platform::is_mount_point("/", mounted).ok());
  EXPECT_TRUE(mounted);
  ASSERT_TRUE(platform::is_mount_point(utf8(dir.path()), mounted).ok());
  EXPECT_FALSE(mounted);
  EXPECT_FALSE(platform::is_mount_point(utf8(dir / "missing"), mounted).ok());
}

bool mounted_at(const fs::path& point) {
  return read_file("/proc/self/mountinfo").find(" " + point.string() + " ") != std::string::npos;
}

// `brq mount -f` served on a thread of this process until unmounted.
class Mount {
 public:
  Mount(const fs::path& archive, const fs::path& point) : point_(point) {
    serving_ = std::thread([this, archive] {
      run_ = brq({"mount", "-f", utf8(archive), utf8(point_)});
      done_ = true;
    });
    // Bounded, so that a mount that never comes up fails instead of hanging.
    for (int i = 0; i < 1000 && !done_ && !mounted_at(point_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Mount() { unmount(); }

  const RunResult& unmount() {
    if (serving_.joinable()) {
      if (!done_) {
        EXPECT_EQ(std::system(("fusermount3 -u " + point_.string()).c_str()), 0);
      }
      serving_.join();
    }
    return run_;
  }

 private:
  fs::path point_;
  std::thread serving_;
  std::atomic<bool> done_{false};
  RunResult run_;
};

TEST(BrqMount, ReadsLikeTheSourceThroughTheKernelAndUnmountsClean) {
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse >= 0) ::close(fuse);
  if (fuse < 0 || ::access("/usr/bin/fusermount3", X_OK) != 0 || !platform::can_mount()) {
    GTEST_SKIP() << "FUSE can't be used here: needs /dev/fuse, fusermount3 and a build with libfuse3-dev";
  }
  TempDir dir;
  const std::string big = pattern(3 * (1 << 20) + 5, 7);
  const std::vector<SourceNode> tree = {source_folder(
      "", {source_file("zeta.bin", big),
           source_folder("dir", {source_file("small.txt", "small"), source_file("empty", ""),
                                 source_folder("sub", {source_file("deep.dat", pattern(5000, 3))})}),
           source_folder("hollow"), source_file(".kelvarin-0123456789abcdef.part", "refused"),
           source_file("alpha.txt", "last")})};
  const fs::path archive = write_archive(dir / "a.brq", tree);
  const fs::path point = dir / "mnt";
  fs::create_directory(point);
  Mount mount(archive, point);
  ASSERT_TRUE(mounted_at(point)) << mount.unmount().err;

  EXPECT_EQ(snapshot(point),
            Tree({{"zeta.bin", big}, {"dir", "<dir>"}, {"dir/small.txt", "small"}, {"dir/empty", ""},
                  {"dir/sub", "<dir>"}, {"dir/sub/deep.dat", pattern(5000, 3)}, {"hollow", "<dir>"},
                  {"alpha.txt", "last"}}));
  std::vector<std::string> order;
  for (const auto& item : fs::directory_iterator(point)) order.push_back(item.path().filename().string());
  EXPECT_EQ(order, std::vector<std::string>({"zeta.bin", "dir", "hollow", "alpha.txt"}));

  struct stat file {}, folder {};
  ASSERT_EQ(::stat((point / "zeta.bin").c_str(), &file) | ::stat((point / "dir").c_str(), &folder), 0);
  EXPECT_EQ(std::make_tuple(file.st_mode, file.st_size, folder.st_mode),
            std::make_tuple(S_IFREG | 0444, static_cast<off_t>(big.size()), S_IFDIR | 0555));
  EXPECT_EQ(::open((point / "zeta.bin").c_str(), O_WRONLY), -1);
  EXPECT_EQ(errno, EROFS);

  const int read_fd = ::open((point / "zeta.bin").c_str(), O_RDONLY);
  ASSERT_GE(read_fd, 0);
  std::string bytes(9000, '\0');
  for (std::size_t offset : {std::size_t{1}, std::size_t{4095}, std::size_t{(1 << 20) - 7}, big.size() - 3,
                             big.size(), big.size() + 100}) {
    const ssize_t got = ::pread(read_fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    const std::string expected = offset < big.size() ? big.substr(offset, bytes.size()) : "";
    EXPECT_EQ(got >= 0 ? bytes.substr(0, static_cast<std::size_t>(got)) : "error", expected) << offset;
  }
  // Cut short under the mount, the archive gives a failed read where the
  // kernel holds no page of it any more, never other bytes.
  ::posix_fadvise(read_fd, 0, 0, POSIX_FADV_DONTNEED);
  fs::resize_file(archive, 1 << 20);
  EXPECT_EQ(::pread(read_fd, bytes.data(), bytes.size(), 2 << 20), -1);
  EXPECT_EQ(errno, EIO);
  ::close(read_fd);

  // A second mount there would hide the first: refused, nothing mounted.
  const RunResult again = brq({"mount", utf8(archive), utf8(point)});
  EXPECT_EQ(std::make_tuple(again.status, again.err),
            std::make_tuple(1, "ERROR: Unable to mount at " + utf8(point) + ": something is mounted there already\n"));

  const RunResult run = mount.unmount();
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_lines(run.err, "ERROR: Skipping entry 8, .kelvarin-"), 1) << run.err;
  EXPECT_FALSE(mounted_at(point));
}

}  // namespace
}  // namespace kelvarin::testing
