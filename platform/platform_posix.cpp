// POSIX implementation of the platform layer (Linux and other Unixes).
#include "platform/platform.h"
#include "platform/posix_test_helper.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace kelvarin::platform {
namespace {

Outcome from_errno() { return Outcome{errno}; }

int fd_of(const FileHandle& file) { return static_cast<int>(file.native()); }

// Reads until `length` bytes or the end of the file, at `position`.
Outcome read_at(int fd, std::uint64_t position, char* buffer, std::size_t length,
                std::size_t& got) {
  got = 0;
  while (got < length) {
    ssize_t n = ::pread(fd, buffer + got, length - got, static_cast<off_t>(position + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno();
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return {};
}

#ifdef __linux__
// Copies in the kernel, without passing through user memory. The data
// position goes in as the in-offset, so one call per file does what a seek
// and a read did, and the archive handle's own position is neither used nor
// moved. Returns false when the kernel can't do this copy here, so the
// caller falls back; `done` counts what was copied before that.
bool kernel_copy(int from, std::uint64_t position, std::uint64_t length, int to,
                 std::uint64_t& done) {
  // Large requests are split: the kernel caps one call below 2 GiB anyway.
  constexpr std::uint64_t kMaxRequest = 1u << 30;
  while (done < length) {
    loff_t in_offset = static_cast<loff_t>(position + done);
    std::size_t ask = static_cast<std::size_t>(std::min(length - done, kMaxRequest));
    ssize_t n = ::copy_file_range(from, &in_offset, to, nullptr, ask, 0);
    if (n > 0) {
      done += static_cast<std::uint64_t>(n);
      continue;
    }
    // 0 means the archive ended early, or a file system that can't say;
    // the ordinary loop tells which.
    if (n == 0) return false;
    if (errno == EINTR) continue;
    // EXDEV, ENOSYS, EINVAL, EOPNOTSUPP: not here (other file systems, an
    // old kernel, a file system that can't). EBADF for an output opened to
    // append. Any other error is left to the ordinary loop too, which tells
    // a failed read from a failed write.
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
// counting what reached the file; bytes still in the pipe are read again
// by whichever copy follows.
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
    // 0: the archive ended early, which the ordinary loop reports.
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

std::string describe(const Outcome& outcome) {
  if (outcome.what != nullptr) return outcome.what;
  return std::strerror(outcome.os_error);
}

Outcome FileHandle::close() {
  if (!is_open()) return {};
  int fd = static_cast<int>(release());
  if (::close(fd) != 0 && errno != EINTR) return from_errno();
  return {};
}

NativeString native_path(std::string_view utf8) { return NativeString(utf8); }

NativeString destination_base(std::string_view utf8) { return NativeString(utf8); }

Outcome open_archive(const NativeString& path, FileHandle& archive) {
  // O_NONBLOCK keeps a named pipe from hanging the open; it has no effect on
  // the regular files that pass the check below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return from_errno();
  FileHandle file(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return from_errno();
  if (!S_ISREG(info.st_mode)) return Outcome::because("not a regular file");
  archive = std::move(file);
  return {};
}

Outcome file_size(const FileHandle& file, std::uint64_t& size) {
  struct stat info {};
  if (::fstat(fd_of(file), &info) != 0) return from_errno();
  size = static_cast<std::uint64_t>(info.st_size);
  return {};
}

Outcome seek(const FileHandle& file, std::uint64_t position) {
  if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return Outcome{EINVAL};
  }
  if (::lseek(fd_of(file), static_cast<off_t>(position), SEEK_SET) < 0) return from_errno();
  return {};
}

Outcome read(const FileHandle& file, void* buffer, std::size_t length, std::size_t& got) {
  got = 0;
  char* bytes = static_cast<char*>(buffer);
  while (got < length) {
    ssize_t n = ::read(fd_of(file), bytes + got, length - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno();
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return {};
}

Outcome create_file(const NativeString& path, FileHandle& file) {
  // Never opened when it exists: a hard link of that name would take the
  // bytes into a file elsewhere, a symbolic one would be refused for good.
  // The name is unlinked and made anew instead.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int fd = ::open(path.c_str(), kFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return from_errno();
    fd = ::open(path.c_str(), kFlags, 0666);
  }
  if (fd < 0) return from_errno();
  file = FileHandle(fd);
  return {};
}

Outcome create_new_file(const NativeString& path, FileHandle& file) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return from_errno();
  file = FileHandle(fd);
  return {};
}

bool name_taken(const Outcome& outcome) { return outcome.os_error == EEXIST; }

Outcome create_file_for_append(const NativeString& path, FileHandle& file) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                  0666);
  if (fd < 0) return from_errno();
  file = FileHandle(fd);
  return {};
}

Outcome write(const FileHandle& file, const void* buffer, std::size_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  while (length > 0) {
    ssize_t n = ::write(fd_of(file), bytes, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno();
    }
    if (n == 0) return Outcome{ENOSPC};
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return {};
}

CopyOutcome copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                       const FileHandle& to, std::vector<char>& buffer) {
  CopyOutcome result;
  std::uint64_t done = 0;
#ifdef __linux__
  if (length > kCopyChunk && pipe_copy(fd_of(from), position, length, fd_of(to), done)) {
    return result;
  }
  if (kernel_copy(fd_of(from), position, length, fd_of(to), done)) return result;
#endif
  if (buffer.size() < kCopyChunk) buffer.resize(kCopyChunk);
  while (done < length) {
    std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kCopyChunk));
    std::size_t got = 0;
    Outcome read_outcome = read_at(fd_of(from), position + done, buffer.data(), chunk, got);
    if (!read_outcome.ok()) return CopyOutcome{CopyOutcome::Side::read, read_outcome};
    if (got < chunk) return CopyOutcome{CopyOutcome::Side::end_of_archive, {}};
    Outcome write_outcome = write(to, buffer.data(), chunk);
    if (!write_outcome.ok()) return CopyOutcome{CopyOutcome::Side::write, write_outcome};
    done += chunk;
  }
  return result;
}

Outcome make_folder(const NativeString& path, bool follow_link) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  if (errno != EEXIST) return from_errno();
  // A trailing slash would make lstat follow a link: look at the name itself.
  NativeString name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  struct stat info {};
  int rc = follow_link ? ::stat(name.c_str(), &info) : ::lstat(name.c_str(), &info);
  if (rc != 0) return from_errno();
  if (S_ISDIR(info.st_mode)) return {};
  if (S_ISLNK(info.st_mode)) return Outcome::because("is a link, which is not followed");
  return Outcome::because("exists and is not a folder");
}

bool name_is_free(const NativeString& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

namespace {

// Removes `path` and, if it is a folder, everything in it. Nothing is
// followed: a link anywhere in the tree is removed as a name. It works
// from a list of folders instead of recursing, so no depth exhausts the
// stack or the descriptors; a folder is listed again until it is empty.
Outcome remove_tree(const NativeString& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? Outcome{} : from_errno();
  if (!S_ISDIR(info.st_mode)) return ::unlink(path.c_str()) == 0 ? Outcome{} : from_errno();

  std::vector<std::string> folders{path};
  while (!folders.empty()) {
    if (::rmdir(folders.back().c_str()) == 0 || errno == ENOENT) {
      folders.pop_back();
      continue;
    }
    if (errno != ENOTEMPTY && errno != EEXIST) return from_errno();
    const std::string folder = folders.back();
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return from_errno();
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
      Outcome failed = from_errno();
      ::close(fd);
      return failed;
    }
    Outcome result;
    bool found_folder = false;
    while (dirent* entry = ::readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      bool is_folder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat entry_info {};
        is_folder = ::fstatat(fd, entry->d_name, &entry_info, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(entry_info.st_mode);
      }
      if (is_folder) {
        folders.push_back(folder + '/' + entry->d_name);
        found_folder = true;
      } else if (::unlinkat(fd, entry->d_name, 0) != 0 && errno != ENOENT) {
        result = from_errno();
        break;
      }
    }
    ::closedir(listing);
    if (!result.ok()) return result;
    // Emptied without a folder to descend into, yet not removable: give up
    // rather than list it forever.
    if (!found_folder && ::rmdir(folder.c_str()) != 0 && errno != ENOENT) return from_errno();
  }
  return {};
}

}  // namespace

Outcome make_fresh_folder(const NativeString& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  if (errno != EEXIST) return from_errno();
  Outcome removed = remove_tree(path);
  if (!removed.ok()) return removed;
  if (::mkdir(path.c_str(), 0777) != 0) return from_errno();
  return {};
}

Outcome name_folder(const NativeString& from, const NativeString& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  // Only a kernel or file system that doesn't know the flag gets the plain
  // rename, which at worst replaces an empty folder.
  if (errno != EINVAL && errno != ENOSYS) return from_errno();
#endif
  if (::rename(from.c_str(), to.c_str()) != 0) return from_errno();
  return {};
}

Outcome replace_file(const NativeString& from, const NativeString& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return from_errno();
  return {};
}

Outcome remove_file(const NativeString& path) {
  if (::unlink(path.c_str()) != 0) return from_errno();
  return {};
}

#ifdef O_TMPFILE
namespace {

// Gives an unnamed file a name. Linking the descriptor itself needs
// CAP_DAC_READ_SEARCH, and without it the kernel answers ENOENT; /proc
// names the same file for everyone else, at the cost of a longer lookup,
// so once that has worked it is the only way tried.
Outcome link_unnamed(int fd, const NativeString& path) {
  static bool by_descriptor = true;
  if (by_descriptor) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return {};
    if (errno != ENOENT && errno != EPERM) return from_errno();
  }
  char proc_path[32];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, proc_path, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return from_errno();
  }
  by_descriptor = false;
  return {};
}

}  // namespace
#endif

Outcome begin_file(const NativeString& folder, const NativeString& temp_path, NewFile& file) {
#ifdef O_TMPFILE
  // One folder lookup now and one insertion at the end, where a temporary
  // name costs an insertion, a removal and a second lookup in the rename.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    file.handle = FileHandle(fd);
    file.named = false;
    return {};
  }
  // EOPNOTSUPP, EISDIR (a kernel without O_TMPFILE) or EINVAL: the file
  // system can't. Any other failure the named way reports in its own words.
#endif
  file.named = true;
  return create_file(temp_path, file.handle);
}

FinishOutcome finish_file(NewFile& file, const NativeString& temp_path,
                          const NativeString& final_path) {
#ifdef O_TMPFILE
  if (!file.named) {
    // linkat never replaces nor follows what holds the name: a free name
    // is taken directly, a taken one (EEXIST) is replaced by a rename.
    Outcome linked = link_unnamed(fd_of(file.handle), final_path);
    if (linked.ok()) {
      Outcome closed = file.handle.close();
      if (closed.ok()) return {};
      // The name was free: removing it again loses nothing of anyone's.
      ::unlink(final_path.c_str());
      return {closed, true};
    }
    if (linked.os_error == EEXIST) {
      // The temporary name is free unless a killed run left it behind (or
      // someone put a link there): only then is it removed and tried again.
      linked = link_unnamed(fd_of(file.handle), temp_path);
      if (linked.os_error == EEXIST) {
        if (::unlink(temp_path.c_str()) != 0 && errno != ENOENT) {
          linked = from_errno();
        } else {
          linked = link_unnamed(fd_of(file.handle), temp_path);
        }
      }
    }
    if (!linked.ok()) {
      file.handle.close();
      return {linked};
    }
    file.named = true;
  }
#endif
  Outcome closed = file.handle.close();
  if (!closed.ok()) {
    ::unlink(temp_path.c_str());
    return {closed, true};
  }
  if (::rename(temp_path.c_str(), final_path.c_str()) != 0) {
    Outcome renamed = from_errno();
    ::unlink(temp_path.c_str());
    return {renamed};
  }
  return {};
}

void abandon_file(NewFile& file, const NativeString& temp_path) {
  file.handle.close();
  if (file.named) ::unlink(temp_path.c_str());
}

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void prepare_output_streams() {}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

const char* unusable_name_reason(std::string_view) { return nullptr; }

}  // namespace kelvarin::platform
