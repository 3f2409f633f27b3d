// POSIX implementation of the platform layer (Linux and other Unixes).
// Every operation on the output is relative to an open folder (openat,
// mkdirat, linkat, renameat, unlinkat, fstatat without following links),
// so the kernel resolves one name per operation and nothing another
// process swaps in on the way is followed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/file_system.h"
#include "platform/os.h"
#include "platform/posix_test_helper.h"
#include "platform/process.h"

namespace kelvarin {

Error Error::os(int code, Step step) {
  // A failed call that left no error code must still not read as success.
  if (code == 0) return Error(Kind::other, -1, step, {});
  const Kind kind = code == ENOENT                        ? Kind::not_found
                    : code == EEXIST                      ? Kind::name_taken
                    : code == ENOTDIR                     ? Kind::not_a_folder
                    : code == ENOTEMPTY                   ? Kind::not_empty
                    : code == EWOULDBLOCK || code == EAGAIN ? Kind::locked
                    : code == ENOMEM                      ? Kind::no_memory
                    : code == ENOSPC || code == EDQUOT    ? Kind::no_space
                    : code == EROFS                       ? Kind::read_only
                    : code == EMFILE || code == ENFILE    ? Kind::too_many_open
                                                          : Kind::other;
  return Error(kind, code, step, {});
}

}  // namespace kelvarin

namespace kelvarin::platform {
namespace {

static_assert(sizeof(off_t) == 8, "archive positions go past 2 GiB");

// File systems without advisory locks (NFS without its lock service, some
// FUSE ones) answer flock so.
bool locking_unsupported(int code) { return code == ENOLCK || code == EOPNOTSUPP || code == EINVAL; }

Error from_errno(Error::Step step = Error::Step::other) { return Error::os(errno, step); }

int fd_of(const FileHandle& file) { return static_cast<int>(file.native()); }
int fd_of(const Folder& folder) { return fd_of(folder.handle); }

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Why `name` in `folder` could not be opened as a folder: a link is named
// as one, a file as what it is, anything else in the OS's words.
Error not_a_folder(int fd, const char* name, int error) {
  struct stat info {};
  if ((error == ELOOP || error == ENOTDIR) &&
      ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return Error::of_kind(Error::Kind::is_link, "is a link, which is not followed");
    if (!S_ISDIR(info.st_mode)) return Error::of_kind(Error::Kind::not_a_folder, "exists and is not a folder");
  }
  return Error::os(error);
}

Error open_in(int fd, const char* name, Folder& folder) {
  int opened = ::openat(fd, name, kOpenFolder);
  if (opened < 0) return not_a_folder(fd, name, errno);
  folder.handle = FileHandle(opened);
  return {};
}

#ifdef __linux__
// Drops the cached pages of a file that a copy replaces, behind the copy,
// on a thread of its own: giving back 16 MiB took a quarter of the time of
// copying it, and the two overlap (a 1.3 GB copy onto ext4 took 0.31 to
// 0.40 s, against 0.40 to 0.48 s one after the other). Without a thread,
// each range is dropped at once.
class CacheRelease {
 public:
  CacheRelease(int file, std::uint64_t from) : file_(file), released_(from), copied_(from) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread to be had: the copy drops what it passed itself.
    }
  }
  CacheRelease(const CacheRelease&) = delete;
  CacheRelease& operator=(const CacheRelease&) = delete;
  ~CacheRelease() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }

  // The copy has passed `end`.
  void passed(std::uint64_t end) {
    if (!thread_.joinable()) {
      drop(released_, end);
      released_ = end;
      return;
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      copied_ = end;
    }
    changed_.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return finished_ || copied_ > released_; });
      if (copied_ == released_) return;
      const std::uint64_t begin = released_, end = copied_;
      lock.unlock();
      drop(begin, end);
      lock.lock();
      released_ = end;
    }
  }

  // Only advice: pages another process holds mapped, or not yet written
  // out, stay.
  void drop(std::uint64_t begin, std::uint64_t end) const {
    ::posix_fadvise(file_, static_cast<off_t>(begin), static_cast<off_t>(end - begin), POSIX_FADV_DONTNEED);
  }

  const int file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t released_;
  std::uint64_t copied_;
  bool finished_ = false;
  std::thread thread_;
};

// Copies in the kernel, without passing through user memory. The data
// position goes in as the in-offset, so one call per file does what a seek
// and a read did. With `release_source`, the source's cached pages are
// dropped behind the copy, so that its next pieces are made of the pages
// just given back. Returns false when the kernel can't do this copy here;
// `done` counts what was copied before that.
bool file_range_copy(int from, std::uint64_t position, std::uint64_t length, int to,
                     std::uint64_t& done, bool release_source = false) {
  // Large requests are split: the kernel caps one call below 2 GiB anyway.
  // Pieces that release the source are smaller: memory a virtual machine
  // hands out for the first time can cost its host a fault per page, which
  // made a 1.3 GB copy onto ext4 take 2.6 to 3.4 s where it took 0.36 to
  // 0.51 s in pieces of 16 MiB that reuse the pages they free.
  const std::uint64_t max_request = release_source ? std::uint64_t{16} << 20 : std::uint64_t{1} << 30;
  // Between two file systems the kernel refuses at once (EXDEV): an
  // extraction writes every file to the same one, so once is enough to
  // ask. (A fact about the process's archive and output.)
  static std::atomic<bool> across_file_systems{false};
  if (across_file_systems) return false;
  std::optional<CacheRelease> release;
  if (release_source) release.emplace(from, position + done);
  while (done < length) {
    loff_t in_offset = static_cast<loff_t>(position + done);
    std::size_t ask = static_cast<std::size_t>(std::min(length - done, max_request));
    ssize_t n = ::copy_file_range(from, &in_offset, to, nullptr, ask, 0);
    if (n > 0) {
      done += static_cast<std::uint64_t>(n);
      if (release) release->passed(position + done);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EXDEV && done == 0) across_file_systems = true;
    // 0: the archive ended early, or a file system that can't say. EXDEV,
    // ENOSYS, EINVAL, EOPNOTSUPP: not here (other file systems, an old
    // kernel); EBADF for an output opened to append. The loop through
    // memory tells a failed read from a failed write.
    return false;
  }
  return true;
}

// Copies in the kernel between any two file systems, where copy_file_range
// can't: one call a file, where a read and a write would take two, and
// the bytes never pass through user memory. Returns false when the kernel
// can't, `done` counting what was copied.
bool send_file(int from, std::uint64_t position, std::uint64_t length, int to, std::uint64_t& done) {
  constexpr std::uint64_t kMaxRequest = 1u << 30;
  while (done < length) {
    off_t in_offset = static_cast<off_t>(position + done);
    const auto ask = static_cast<std::size_t>(std::min(length - done, kMaxRequest));
    const ssize_t n = ::sendfile(to, from, &in_offset, ask);
    if (n > 0) {
      done += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // 0: the archive ended early. EINVAL: an output opened to append.
    return false;
  }
  return true;
}

// Copies a large file in the kernel through a pipe of its own: splice from
// the archive (at the data position) into the pipe, then from the pipe into
// the file. copy_file_range does the same inside the kernel through a pipe
// of 16 pages, and pays its per-round work every 64 KiB; a pipe of a
// megabyte copied the 256 MiB files of the benchmark in about 0.55 of the
// time. Worth its four extra calls (pipe, size, two closes) only for files
// of more than one chunk. Returns false when the kernel refuses, `done`
// counting what reached the file.
bool pipe_copy(int from, std::uint64_t position, std::uint64_t length, int to,
               std::uint64_t& done) {
  constexpr std::size_t kPipeBytes = std::size_t{1} << 20;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  // Refused beyond a user's pipe allowance: the pipe then keeps its default
  // size, which is slower but works.
  ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kPipeBytes));
  bool copied = true;
  while (copied && done < length) {
    loff_t in_offset = static_cast<loff_t>(position + done);
    std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kPipeBytes));
    ssize_t in_pipe = ::splice(from, &in_offset, ends[1], nullptr, ask, SPLICE_F_MOVE);
    if (in_pipe < 0 && errno == EINTR) continue;
    // 0: the archive ended early, which the loop through memory reports.
    if (in_pipe <= 0) break;
    while (in_pipe > 0) {
      ssize_t out = ::splice(ends[0], nullptr, to, nullptr, static_cast<std::size_t>(in_pipe),
                             SPLICE_F_MOVE);
      if (out < 0 && errno == EINTR) continue;
      if (out <= 0) {
        copied = false;
        break;
      }
      in_pipe -= out;
      done += static_cast<std::uint64_t>(out);
    }
  }
  ::close(ends[0]);
  ::close(ends[1]);
  return done == length;
}
#endif

}  // namespace

std::string os::describe_error(int code) {
  if (code < 0) return "unknown error";
  return std::strerror(code);
}

Error FileHandle::close() {
  if (!is_open()) return {};
  int fd = static_cast<int>(release());
  if (::close(fd) != 0 && errno != EINTR) return from_errno(Error::Step::write);
  return {};
}

void native_name(std::string_view utf8, NativeString& out) { out.assign(utf8); }

bool ends_with_separator(std::string_view utf8) { return !utf8.empty() && utf8.back() == '/'; }

Error open_archive(std::string_view utf8_path, FileHandle& archive) {
  const std::string path(utf8_path);
  // O_NONBLOCK keeps a named pipe from hanging the open; it has no effect on
  // the regular files that pass the check below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return from_errno(Error::Step::open);
  FileHandle file(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return from_errno(Error::Step::open);
  if (!S_ISREG(info.st_mode)) return Error::because("not a regular file", Error::Step::open);
  archive = std::move(file);
  return {};
}

Error duplicate(const FileHandle& file, FileHandle& copy) {
  const int fd = ::fcntl(fd_of(file), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return from_errno(Error::Step::open);
  copy = FileHandle(fd);
  return {};
}

Error lock_for_change(const FileHandle& file, FileHandle& held) { return os::lock(file, held); }

void read_ahead(const FileHandle& file) {
#ifdef POSIX_FADV_WILLNEED
  ::posix_fadvise(fd_of(file), 0, 0, POSIX_FADV_WILLNEED);
#else
  (void)file;
#endif
}

Error read_at(const FileHandle& file, std::uint64_t position, void* buffer, std::size_t length,
              std::size_t& got) {
  got = 0;
  char* bytes = static_cast<char*>(buffer);
  while (got < length) {
    ssize_t n = ::pread(fd_of(file), bytes + got, length - got, static_cast<off_t>(position + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno(Error::Step::read);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return {};
}

Error open_folder(std::string_view utf8_path, Folder& folder) {
  const std::string path(utf8_path);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return from_errno(Error::Step::open);
  folder.handle = FileHandle(fd);
  return {};
}

Error os::open_destination(std::string_view utf8_path, bool make_parents, Folder& folder) {
  const std::string path(utf8_path);
  // As mkdir -p: each folder on the way from the top down, where missing.
  for (std::size_t slash = path.find('/', 1); make_parents && slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;
    const std::string parent = path.substr(0, slash);
    if (::mkdir(parent.c_str(), 0777) == 0 || errno == EEXIST) continue;
    const int error = errno;
    struct stat info {};
    if (::stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Error::os(error, Error::Step::create);
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return from_errno(Error::Step::create);
  return open_folder(utf8_path, folder);
}

Error open_parent_folder(std::string_view utf8_path, Folder& folder, std::string& name) {
  const std::size_t slash = utf8_path.find_last_of('/');
  name = utf8_path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  if (slash == std::string_view::npos) return open_folder(".", folder);
  return open_folder(slash == 0 ? "/" : utf8_path.substr(0, slash), folder);
}

Error open_subfolder(const Folder& parent, const NativeString& name, Folder& folder) {
  return open_in(fd_of(parent), name.c_str(), folder).during(Error::Step::open);
}

Error os::make_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  if (::mkdirat(fd_of(parent), name.c_str(), 0777) != 0 && errno != EEXIST) {
    return from_errno(Error::Step::create);
  }
  return open_in(fd_of(parent), name.c_str(), folder).during(Error::Step::create);
}

bool os::name_is_free(const Folder& folder, const NativeString& name) {
  struct stat info {};
  return ::fstatat(fd_of(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

Error os::folds_case(const Folder& folder, const NativeString& probe, const NativeString& other_case,
                     bool& folds) {
  FileHandle made;
  Error error = create_new_file(folder, probe, made);
  if (!error.ok()) return error;
  struct stat ours {}, other {};
  if (::fstat(fd_of(made), &ours) != 0) {
    error = from_errno(Error::Step::read);
  } else if (::fstatat(fd_of(folder), other_case.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0) {
    // Found at all: nobody else makes names of this form, and the probe's
    // is new. (FUSE file systems such as exfat-fuse number a file anew for
    // each name it is looked up by, so the inodes can't be compared.)
    folds = ours.st_dev == other.st_dev;
  } else if (errno == ENOENT) {
    folds = false;
  } else {
    error = from_errno(Error::Step::read);
  }
  made.close();
  ::unlinkat(fd_of(folder), probe.c_str(), 0);
  return error;
}

Error os::make_new_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  const int fd = fd_of(parent);
  if (::mkdirat(fd, name.c_str(), 0777) != 0) return from_errno(Error::Step::create);
  return open_in(fd, name.c_str(), folder).during(Error::Step::create);
}

Error os::name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                  const NativeString& to) {
  folder.handle.close();
  // Its lock goes only once the folder has its name: until then another
  // run must not take it for a leftover.
  struct Unlock {
    Folder& folder;
    ~Unlock() { folder.lock.close(); }
  } unlock{folder};
  const int fd = fd_of(parent);
#ifdef RENAME_NOREPLACE
  if (::renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  // Only a kernel or file system that doesn't know the flag gets the plain
  // rename, which at worst replaces an empty folder.
  if (errno != EINVAL && errno != ENOSYS) return from_errno(Error::Step::rename);
#endif
  if (::renameat(fd, from.c_str(), fd, to.c_str()) != 0) return from_errno(Error::Step::rename);
  return {};
}

Error os::lock(const FileHandle& file, FileHandle& held) {
  // The lock belongs to the open file, not the descriptor: a duplicate
  // keeps it once the first is closed (a file is closed before its rename,
  // to hear of a failed write first).
  if (::flock(fd_of(file), LOCK_EX | LOCK_NB) != 0) {
    // Where the file system can't lock, no run can hold a lock there
    // either: the work goes on unlocked, as where nothing shares it.
    if (locking_unsupported(errno)) {
      held = FileHandle();
      return {};
    }
    return from_errno(Error::Step::create);
  }
  const int copy = ::fcntl(fd_of(file), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return from_errno(Error::Step::create);
  held = FileHandle(copy);
  return {};
}

Error os::claim(const Folder& parent, const NativeString& name, FileHandle& claimed) {
  // O_NONBLOCK keeps a pipe put there from hanging the open.
  const int fd = ::openat(fd_of(parent), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // Gone, a link, a socket: nothing anyone could hold.
    if (errno == ENOENT || errno == ELOOP || errno == ENXIO) return {};
    return from_errno(Error::Step::remove);
  }
  claimed = FileHandle(fd);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && !locking_unsupported(errno)) return from_errno(Error::Step::remove);
  return {};
}

Error list_folder(const Folder& folder, std::vector<FolderItem>& items) {
  // A descriptor of its own: a listing moves the descriptor's position.
  int fd = ::openat(fd_of(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return from_errno(Error::Step::read);
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    Error failed = from_errno(Error::Step::read);
    ::close(fd);
    return failed;
  }
  items.clear();
  errno = 0;
  while (dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat info {};
      if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG
               : S_ISLNK(info.st_mode)                                 ? DT_LNK
                                                                       : DT_UNKNOWN;
      }
    }
    using Kind = FolderItem::Kind;
    items.push_back({std::string(name), type == DT_DIR   ? Kind::folder
                                        : type == DT_REG ? Kind::file
                                        : type == DT_LNK ? Kind::link
                                                         : Kind::other});
    errno = 0;
  }
  Error result = errno != 0 ? from_errno(Error::Step::read) : Error{};
  ::closedir(listing);
  return result;
}

Error is_mount_point(std::string_view utf8_path, bool& mounted) {
  const std::string path(utf8_path);
#ifdef STATX_ATTR_MOUNT_ROOT
  // Linux 5.8 and later tell it, bind mounts of a folder of the same file
  // system too.
  struct statx root {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &root) == 0 &&
      (root.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    mounted = (root.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return {};
  }
#endif
  struct stat folder {}, parent {};
  if (::stat(path.c_str(), &folder) != 0 || ::stat((path + "/..").c_str(), &parent) != 0) {
    return from_errno(Error::Step::open);
  }
  mounted = folder.st_dev != parent.st_dev || folder.st_ino == parent.st_ino;
  return {};
}

namespace {

std::uint64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(time.tv_nsec);
}

FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size), nanoseconds(info.st_ctim), nanoseconds(info.st_mtim),
          S_ISDIR(info.st_mode), S_ISREG(info.st_mode), S_ISLNK(info.st_mode)};
}

}  // namespace

Error identify(const FileHandle& file, FileIdentity& identity) {
  struct stat info {};
  if (::fstat(fd_of(file), &info) != 0) return from_errno(Error::Step::read);
  identity = identity_of(info);
  return {};
}

Error identify_in(const Folder& folder, const NativeString& name, FileIdentity& identity) {
  struct stat info {};
  if (::fstatat(fd_of(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return from_errno(Error::Step::read);
  }
  identity = identity_of(info);
  return {};
}

Error identify_target(const Folder& folder, const NativeString& name, FileIdentity& identity) {
  struct stat info {};
  if (::fstatat(fd_of(folder), name.c_str(), &info, 0) != 0) return from_errno(Error::Step::read);
  identity = identity_of(info);
  return {};
}

Error open_file(const Folder& folder, const NativeString& name, FileHandle& file, FileIdentity& identity) {
  int fd = ::openat(fd_of(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) return Error::because("is a link, which is not followed", Error::Step::open);
    return from_errno(Error::Step::open);
  }
  FileHandle opened(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return from_errno(Error::Step::open);
  if (!S_ISREG(info.st_mode)) return Error::because("not a regular file", Error::Step::open);
  identity = identity_of(info);
  file = std::move(opened);
  return {};
}

Error os::create_new_file(const Folder& folder, const NativeString& name, FileHandle& file) {
  int fd = ::openat(fd_of(folder), name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return from_errno(Error::Step::create);
  file = FileHandle(fd);
  return {};
}

Error os::remove_file(const Folder& folder, const NativeString& name) {
  if (::unlinkat(fd_of(folder), name.c_str(), 0) != 0) return from_errno(Error::Step::remove);
  return {};
}

Error os::write(const FileHandle& file, const void* buffer, std::size_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  while (length > 0) {
    ssize_t n = ::write(fd_of(file), bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno(Error::Step::write);
    }
    if (n == 0) return Error::os(ENOSPC, Error::Step::write);
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return {};
}

Error os::set_position(const FileHandle& file, std::uint64_t position) {
  if (::lseek(fd_of(file), static_cast<off_t>(position), SEEK_SET) < 0) return from_errno(Error::Step::write);
  return {};
}

Error os::create_unnamed_file(const Folder& folder, FileHandle& file) {
#ifdef O_TMPFILE
  int fd = ::openat(fd_of(folder), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return from_errno(Error::Step::create);
  file = FileHandle(fd);
  return {};
#else
  (void)folder;
  (void)file;
  return Error::os(EOPNOTSUPP, Error::Step::create);
#endif
}

Error os::link_unnamed_file(const FileHandle& file, const Folder& folder, const NativeString& name) {
  // Linking the descriptor itself needs CAP_DAC_READ_SEARCH before Linux
  // 6.10, and without it the kernel answers ENOENT; /proc names the same
  // file for everyone else, so once that has worked it is the only way
  // tried. (A fact about the process, the same for every file.)
  static std::atomic<bool> by_descriptor{true};
  const int fd = fd_of(file);
  if (by_descriptor) {
    if (::linkat(fd, "", fd_of(folder), name.c_str(), AT_EMPTY_PATH) == 0) return {};
    if (errno != ENOENT && errno != EPERM) return from_errno(Error::Step::create);
  }
  char proc_path[32];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc_path, fd_of(folder), name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return from_errno(Error::Step::create);
  }
  by_descriptor = false;
  return {};
}

namespace {

// ext4 writes a new file's blocks out before a rename that puts it over
// another file (its auto_da_alloc), which for an edited archive of 1 GiB
// took 0.37 s of an edit's 0.8. Exchanging the two names, then removing the
// old file under the temporary name, leaves the same name on the same new
// file at once, and a killed run leaves the old one as a leftover. Only a
// regular file is removed so: anything else put there meanwhile is
// exchanged back, and the plain rename decides. False where it didn't.
bool exchange_and_remove(int folder, const NativeString& from, const NativeString& to) {
#ifdef RENAME_EXCHANGE
  // Below this a rename that replaces a file costs nothing worth avoiding.
  constexpr off_t kLargeReplacement = off_t{16} << 20;
  struct stat incoming {}, replaced {};
  if (::fstatat(folder, from.c_str(), &incoming, AT_SYMLINK_NOFOLLOW) != 0 || incoming.st_size < kLargeReplacement ||
      ::fstatat(folder, to.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(replaced.st_mode)) {
    return false;
  }
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_EXCHANGE) != 0) return false;
  if (::unlinkat(folder, from.c_str(), 0) == 0) return true;
  ::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_EXCHANGE);
#else
  (void)folder;
  (void)from;
  (void)to;
#endif
  return false;
}

}  // namespace

Error os::replace_file(const Folder& folder, const NativeString& from, const NativeString& to) {
  if (exchange_and_remove(fd_of(folder), from, to)) return {};
  if (::renameat(fd_of(folder), from.c_str(), fd_of(folder), to.c_str()) != 0) {
    return from_errno(Error::Step::rename);
  }
  return {};
}

std::uint64_t os::copy_in_kernel(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                             const FileHandle& to, CopyWay way) {
  std::uint64_t done = 0;
#ifdef __linux__
  // copy_file_range shares the blocks where the file system can (and on
  // ext4 copied a 1 GiB range in 0.26 s where the pipe took 2.5 s); for
  // the many files of an extraction the pipe was faster.
  if (way != CopyWay::stream &&
      file_range_copy(fd_of(from), position, length, fd_of(to), done, way == CopyWay::share_blocks_of_replaced)) {
    return done;
  }
  if (length > kCopyChunk && pipe_copy(fd_of(from), position, length, fd_of(to), done)) return done;
  if (!file_range_copy(fd_of(from), position, length, fd_of(to), done)) {
    send_file(fd_of(from), position, length, fd_of(to), done);
  }
#else
  (void)from;
  (void)position;
  (void)length;
  (void)to;
  (void)way;
#endif
  return done;
}

Error os::remove_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  folder.handle.close();
  if (::unlinkat(fd_of(parent), name.c_str(), AT_REMOVEDIR) == 0) return {};
  // POSIX lets a folder that isn't empty answer either way.
  return Error::os(errno == EEXIST ? ENOTEMPTY : errno, Error::Step::remove);
}


bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

Error write_stream(std::FILE* stream, std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size()) return {};
  return from_errno(Error::Step::write);
}

Error flush_stream(std::FILE* stream) {
  if (std::fflush(stream) == 0) return {};
  return from_errno(Error::Step::write);
}

bool reader_gone(const Error& error) { return error.os_code() == EPIPE; }

void os::prepare_process() {
  // Past a file size limit (ulimit -f) a write raises SIGXFSZ, which ends
  // the process at once, losing the output still buffered. Ignored, such a
  // write fails with EFBIG and is reported like any failed write.
  ::signal(SIGXFSZ, SIG_IGN);
}

std::size_t spare_descriptors() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  // Those held, where the system lists them; else none are counted.
  std::size_t held = 0;
  if (DIR* listing = ::opendir("/proc/self/fd")) {
    while (const dirent* item = ::readdir(listing)) held += item->d_name[0] != '.';
    ::closedir(listing);
    held -= held > 0;  // the listing's own
  }
  const auto most = static_cast<std::size_t>(limit.rlim_cur);
  return most > held ? most - held : 0;
}

std::vector<std::string> os::utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

Error create_file_for_append(const Folder& folder, const NativeString& name, FileHandle& file) {
  int fd = ::openat(fd_of(folder), name.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return from_errno(Error::Step::create);
  file = FileHandle(fd);
  return {};
}

}  // namespace kelvarin::platform
