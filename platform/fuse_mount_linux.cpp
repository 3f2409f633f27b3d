// A ReadOnlyTree served as a file system through FUSE 3's low-level
// interface. The tree can't change while it is mounted, so the kernel is
// let to keep everything it learns (names, attributes, file pages, folder
// listings) for as long as it likes; requests come in on several threads
// and each read is one read of the archive at its position.
#define FUSE_USE_VERSION 34
#include <fuse_lowlevel.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/mount.h"

namespace kelvarin::platform {
namespace {

constexpr std::uint32_t kNone = ReadOnlyTree::kNone;
// How long the kernel may trust what it was told: a year stands for ever
// (the kernel caps it anyway).
constexpr double kForever = 365.0 * 24 * 3600;
// Worker threads the loop keeps waiting for requests.
constexpr unsigned kIdleThreads = 8;

struct Served {
  const ReadOnlyTree& tree;
  struct stat base {};  // owner and times, the same for every node
  std::uint64_t total_bytes = 0;
  // The kernel can open files and folders without asking (then keeping
  // their pages and listings, as the replies below would ask it to).
  std::atomic<bool> opens_without_asking{false};
};

const Served& served_by(fuse_req_t request) {
  return *static_cast<const Served*>(fuse_req_userdata(request));
}

// FUSE numbers the top folder 1 (FUSE_ROOT_ID), so an inode is a node + 1.
fuse_ino_t inode_of(std::uint32_t node) { return fuse_ino_t{node} + 1; }

std::uint32_t node_of(const Served& served, fuse_ino_t inode) {
  if (inode == 0 || inode > served.tree.node_count()) return kNone;
  return static_cast<std::uint32_t>(inode - 1);
}

struct stat attributes(const Served& served, std::uint32_t node) {
  const ReadOnlyTree& tree = served.tree;
  struct stat attr = served.base;
  attr.st_ino = inode_of(node);
  if (tree.is_folder(node)) {
    attr.st_mode = S_IFDIR | 0555;
    // Its own name, its "." and each subfolder's "..", as tools that count
    // on the link count expect.
    nlink_t links = 2;
    for (std::uint32_t child = tree.first_child(node); child != kNone; child = tree.next_sibling(child)) {
      if (tree.is_folder(child)) ++links;
    }
    attr.st_nlink = links;
  } else {
    attr.st_mode = S_IFREG | 0444;
    attr.st_nlink = 1;
    attr.st_size = static_cast<off_t>(tree.file_size(node));
    attr.st_blocks = static_cast<blkcnt_t>((tree.file_size(node) + 511) / 512);
  }
  return attr;
}

fuse_entry_param entry_of(const Served& served, std::uint32_t node) {
  fuse_entry_param entry{};
  entry.entry_timeout = kForever;
  entry.attr_timeout = kForever;
  // Inode 0 tells the kernel the name is absent, and to remember that too.
  if (node != kNone) {
    entry.ino = inode_of(node);
    entry.attr = attributes(served, node);
  }
  return entry;
}

void on_init(void* served, fuse_conn_info* connection) {
  static_cast<Served*>(served)->opens_without_asking =
      (connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) && (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT);
  // Nothing the kernel caches ever has to be dropped because a file's
  // times or size moved.
  connection->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
  // Every listing carries each entry's attributes, not only its first
  // part: whoever lists a folder here is about to open what is in it, and
  // each name then needs no lookup of its own.
  connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
}

void on_lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
  const Served& served = served_by(request);
  const std::uint32_t folder = node_of(served, parent);
  if (folder == kNone || !served.tree.is_folder(folder)) {
    fuse_reply_err(request, ENOTDIR);
    return;
  }
  const fuse_entry_param entry = entry_of(served, served.tree.find_child(folder, name));
  fuse_reply_entry(request, &entry);
}

void on_getattr(fuse_req_t request, fuse_ino_t inode, fuse_file_info*) {
  const Served& served = served_by(request);
  const std::uint32_t node = node_of(served, inode);
  if (node == kNone) {
    fuse_reply_err(request, ENOENT);
    return;
  }
  const struct stat attr = attributes(served, node);
  fuse_reply_attr(request, &attr, kForever);
}

void on_open(fuse_req_t request, fuse_ino_t inode, fuse_file_info* file) {
  const Served& served = served_by(request);
  const std::uint32_t node = node_of(served, inode);
  if (node == kNone) {
    fuse_reply_err(request, ENOENT);
  } else if (served.tree.is_folder(node)) {
    fuse_reply_err(request, EISDIR);
  } else if ((file->flags & O_ACCMODE) != O_RDONLY) {
    fuse_reply_err(request, EROFS);
  } else if (served.opens_without_asking) {
    // Nothing to answer per open: ENOSYS tells the kernel to open every
    // file itself from now on, keeping its pages, which saves two requests
    // per file opened (open and release). The mount's "ro" refuses writes.
    fuse_reply_err(request, ENOSYS);
  } else {
    // The pages read before are still right: keep them across opens.
    file->keep_cache = 1;
    fuse_reply_open(request, file);
  }
}

void on_read(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info*) {
  const Served& served = served_by(request);
  const std::uint32_t node = node_of(served, inode);
  if (node == kNone || served.tree.is_folder(node) || offset < 0) {
    fuse_reply_err(request, EINVAL);
    return;
  }
  const std::uint64_t file_size = served.tree.file_size(node);
  const auto from = static_cast<std::uint64_t>(offset);
  const std::size_t length =
      from >= file_size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(size, file_size - from));
  // Each serving thread reads into a buffer of its own, kept from one
  // request to the next: a fresh one per request cost a fifth more time in
  // page faults.
  thread_local std::vector<char> bytes;
  try {
    if (bytes.size() < length) bytes.resize(length);
  } catch (const std::bad_alloc&) {
    fuse_reply_err(request, ENOMEM);
    return;
  }
  // One read of the archive, which must give every byte: a shorter one
  // means the archive was cut since it was mounted.
  if (length > 0 && !served.tree.read(node, from, bytes.data(), length).ok()) {
    fuse_reply_err(request, EIO);
    return;
  }
  fuse_reply_buf(request, bytes.data(), length);
}

void on_opendir(fuse_req_t request, fuse_ino_t inode, fuse_file_info* folder) {
  const Served& served = served_by(request);
  const std::uint32_t node = node_of(served, inode);
  if (node == kNone || !served.tree.is_folder(node)) {
    fuse_reply_err(request, ENOTDIR);
    return;
  }
  if (served.opens_without_asking) {
    fuse_reply_err(request, ENOSYS);
    return;
  }
  folder->keep_cache = 1;
  folder->cache_readdir = 1;
  fuse_reply_open(request, folder);
}

// A folder's listing from `offset` on, as much as `size` bytes take. The
// offset after "." is 1, after ".." 2, and after a node its number + 3, so
// that the next call goes on from that node's next sibling without a
// search. With `plus` each entry carries its attributes too.
void list_folder_entries(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, bool plus) {
  const Served& served = served_by(request);
  const ReadOnlyTree& tree = served.tree;
  const std::uint32_t folder = node_of(served, inode);
  if (folder == kNone || !tree.is_folder(folder)) {
    fuse_reply_err(request, ENOTDIR);
    return;
  }
  std::uint32_t next = tree.first_child(folder);
  if (offset >= 3) {
    const auto after = static_cast<std::uint64_t>(offset - 3);
    if (after >= tree.node_count() || tree.parent(static_cast<std::uint32_t>(after)) != folder) {
      fuse_reply_err(request, EINVAL);
      return;
    }
    next = tree.next_sibling(static_cast<std::uint32_t>(after));
  }
  std::vector<char> buffer(size);
  std::size_t used = 0;
  std::string name;
  auto add = [&](const char* text, std::uint32_t node, off_t next_offset) {
    std::size_t needed = 0;
    if (plus) {
      const fuse_entry_param entry = entry_of(served, node);
      needed = fuse_add_direntry_plus(request, buffer.data() + used, size - used, text, &entry, next_offset);
    } else {
      const struct stat attr = attributes(served, node);
      needed = fuse_add_direntry(request, buffer.data() + used, size - used, text, &attr, next_offset);
    }
    if (needed > size - used) return false;
    used += needed;
    return true;
  };
  bool room = true;
  if (offset < 1) room = add(".", folder, 1);
  if (room && offset < 2) room = add("..", tree.parent(folder), 2);
  for (; room && next != kNone; next = tree.next_sibling(next)) {
    name.assign(tree.name(next));
    room = add(name.c_str(), next, static_cast<off_t>(next) + 3);
  }
  fuse_reply_buf(request, buffer.data(), used);
}

void on_readdir(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info*) {
  list_folder_entries(request, inode, size, offset, false);
}

void on_readdirplus(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info*) {
  list_folder_entries(request, inode, size, offset, true);
}

void on_statfs(fuse_req_t request, fuse_ino_t) {
  const Served& served = served_by(request);
  struct statvfs stats {};
  stats.f_bsize = stats.f_frsize = 4096;
  stats.f_blocks = (served.total_bytes + 4095) / 4096;
  stats.f_files = served.tree.node_count();
  stats.f_namemax = kLongestMountedName;
  fuse_reply_statfs(request, &stats);
}

// Lets the calling process return while a child of its own, cut loose from
// the terminal and the standard streams, goes on to serve: `detached` is
// true in the caller. The mount is in place before, so that whoever
// started brq finds it there as soon as brq returns.
Error detach(bool& detached) {
  std::fflush(nullptr);
  int ready[2];
  if (::pipe(ready) != 0) return Error::os(errno);
  const pid_t child = ::fork();
  if (child < 0) {
    const int code = errno;
    ::close(ready[0]);
    ::close(ready[1]);
    return Error::os(code);
  }
  detached = child > 0;
  if (detached) {
    // Returns once the child has a session of its own: a hang-up of the
    // terminal brq ran in no longer reaches it.
    ::close(ready[1]);
    char done = 0;
    while (::read(ready[0], &done, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    return {};
  }
  ::close(ready[0]);
  ::setsid();
  if (::chdir("/") != 0) {
    // Stays where it was: it names no path from here on.
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    for (int stream = 0; stream <= 2; ++stream) ::dup2(null, stream);
    ::close(null);
  }
  ::close(ready[1]);
  return {};
}

// libfuse's own options, as its command line takes them.
struct MountArguments {
  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  char* options = nullptr;

  explicit MountArguments(const std::string& source) {
    fuse_opt_add_arg(&args, "brq");
    // The kernel checks the modes itself, and refuses every write.
    fuse_opt_add_opt(&options, "ro,default_permissions,subtype=brq");
    fuse_opt_add_opt_escaped(&options, ("fsname=" + source).c_str());
    fuse_opt_add_arg(&args, "-o");
    fuse_opt_add_arg(&args, options);
  }
  ~MountArguments() {
    fuse_opt_free_args(&args);
    std::free(options);
  }
  MountArguments(const MountArguments&) = delete;
  MountArguments& operator=(const MountArguments&) = delete;
};

}  // namespace

bool can_mount() { return true; }

Error serve_read_only_mount(std::string_view mountpoint, const ReadOnlyTree& tree,
                            const MountOptions& options, MountEnd& end) {
  const std::string point(mountpoint);
  struct stat at {};
  if (::stat(point.c_str(), &at) != 0) return Error::os(errno, Error::Step::open);
  if (!S_ISDIR(at.st_mode)) return Error::because("not a folder");

  Served served{tree};
  served.base.st_uid = ::getuid();
  served.base.st_gid = ::getgid();
  struct stat source {};
  if (options.times != nullptr && ::fstat(static_cast<int>(options.times->native()), &source) == 0) {
    served.base.st_atim = served.base.st_mtim = served.base.st_ctim = source.st_mtim;
  }
  for (std::uint32_t node = 0; node < tree.node_count(); ++node) served.total_bytes += tree.file_size(node);

  fuse_lowlevel_ops operations{};
  operations.init = on_init;
  operations.lookup = on_lookup;
  operations.getattr = on_getattr;
  operations.open = on_open;
  operations.read = on_read;
  operations.opendir = on_opendir;
  operations.readdir = on_readdir;
  operations.readdirplus = on_readdirplus;
  operations.statfs = on_statfs;

  MountArguments arguments(options.source);
  fuse_session* session = fuse_session_new(&arguments.args, &operations, sizeof operations, &served);
  if (session == nullptr) return Error::because("FUSE refused to start a session");
  // A signal that ends the process (Ctrl-C, a hang-up, kill) ends the loop
  // instead, and the mount is taken down.
  const bool signals = fuse_set_signal_handlers(session) == 0;
  Error error;
  if (fuse_session_mount(session, point.c_str()) != 0) {
    error = Error::because("FUSE could not mount it (is /dev/fuse usable, and fusermount3 installed?)");
  } else {
    bool detached = false;
    if (!options.foreground) error = detach(detached);
    if (detached) {
      end = MountEnd::detached;
    } else if (error.ok()) {
      fuse_loop_config loop{};
      loop.clone_fd = 0;
      loop.max_idle_threads = kIdleThreads;
      // 0 once unmounted, the signal's number when one ended it, or a
      // failure as -errno.
      const int ended = fuse_session_loop_mt(session, &loop);
      if (ended < 0) error = Error::os(-ended);
      end = MountEnd::unmounted;
    }
    if (!detached) fuse_session_unmount(session);
  }
  if (signals) fuse_remove_signal_handlers(session);
  fuse_session_destroy(session);
  return error;
}

}  // namespace kelvarin::platform
