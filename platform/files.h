// Files and folders as the rest of the program reads them: handles that
// close themselves, folders held open, reads by position, listings and
// identities. What makes or changes anything on disk goes through the
// FileSystem of file_system.h instead, so that a test can stand in its way.
// Each OS implements these in a file of its own (platform_posix.cpp,
// platform_win32.cpp); nothing outside this folder includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace kelvarin::platform {

// Names and paths as the OS takes them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativeString = std::wstring;
// The names Windows can't hold (devices, streams, some characters) can't be
// written here either.
inline constexpr bool kWindowsNames = true;
// Names that differ only in case are one name in every folder.
inline constexpr bool kFoldsCase = true;
#else
using NativeString = std::string;
inline constexpr bool kWindowsNames = false;
// Only some file systems ignore case: FileSystem::folds_case asks a folder.
inline constexpr bool kFoldsCase = false;
#endif

// An open file or folder that closes itself. Movable, not copyable.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  ~FileHandle() { close(); }
  FileHandle(FileHandle&& other) noexcept : native_(other.release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      close();
      native_ = other.release();
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool is_open() const { return native_ != kInvalid; }
  std::intptr_t native() const { return native_; }
  std::intptr_t release() {
    std::intptr_t native = native_;
    native_ = kInvalid;
    return native;
  }
  // Closing a written file can still report a failed write (the OS may
  // tell only then): callers that wrote through the handle check it.
  Error close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t native_ = kInvalid;
};

// An open folder. Windows creates nothing relative to a handle, so there
// the folder is held open without delete sharing (it can't be renamed,
// removed or replaced while held) and `path` is its long form ("\\?\..."),
// ending with a separator. Elsewhere `path` is unused.
struct Folder {
  FileHandle handle;
  NativeString path;
  // Held while the folder is a run's own unfinished work under a temporary
  // name, so that another run takes it for a live run's, not a killed
  // run's leftover (see FileSystem::lock).
  FileHandle lock;
};

// Size of the buffer bytes pass through when they go through user memory:
// 1000 × 1024, the program's fixed chunk.
inline constexpr std::size_t kCopyChunk = 1'024'000;

// How a range is copied: as a stream of bytes, or with whole blocks shared
// between the two files where the file system can (FileSystem::copy_range);
// share_blocks_of_replaced also gives back the source's cached pages as the
// copy passes them, for a source that the copy replaces.
enum class CopyWay { stream, share_blocks, share_blocks_of_replaced };

// One name in the OS's form, into `out` (reused by the caller, so that a
// name per file costs no allocation once it has grown).
void native_name(std::string_view utf8, NativeString& out);

// Whether a path typed as `utf8` ends with what the OS takes as a
// separator ('/' everywhere, '\' on Windows too).
bool ends_with_separator(std::string_view utf8);

// ---- Reading ----

// Opens an existing regular file for reading (others may read it too).
// A folder, a device or a pipe counts as a failure.
Error open_archive(std::string_view utf8_path, FileHandle& archive);

// Reads up to `length` bytes at `position` without using or moving the
// handle's own position; `got` is short only at the end of the file.
Error read_at(const FileHandle& file, std::uint64_t position, void* buffer, std::size_t length,
              std::size_t& got);

// A second handle on the file `file` is open on, which closes on its own:
// something that takes a handle to own can be given one on a file that
// stays open here.
Error duplicate(const FileHandle& file, FileHandle& copy);

// Takes the lock that keeps other changes of an archive out while this
// process changes it, at once, or fails with Error::is_locked. Readers are
// not kept out. On POSIX an exclusive flock, which `held` keeps until it
// is closed; on Windows a lock on a range beyond any archive's end, which
// `file` itself holds and lets go when it is closed (it must be closed
// before the archive's name can take a new file there), `held` left empty.
Error lock_for_change(const FileHandle& file, FileHandle& held);

// Asks the OS to read all of `file` into its cache in the background, so
// that reading it later finds it there; where the OS can't, nothing.
void read_ahead(const FileHandle& file);

// Reads `length` bytes from `position` in chunks of at most kCopyChunk,
// through `buffer` (grown once and reused), handing each chunk to `take`;
// stops at the first failure, its own or `take`'s. A file that ends too
// soon is Error::is_ended_early, once what it had has been handed on.
Error read_range(const FileHandle& file, std::uint64_t position, std::uint64_t length,
                 std::vector<char>& buffer,
                 const std::function<Error(const char* bytes, std::size_t length)>& take);

// Reads by position from whatever holds the bytes, as read_at does from a
// file: a caller's own reading, of an archive held in memory or fetched a
// range at a time.
using ReadAt = std::function<Error(std::uint64_t position, void* buffer, std::size_t length, std::size_t& got)>;

// read_range through `read`.
Error read_range(const ReadAt& read, std::uint64_t position, std::uint64_t length, std::vector<char>& buffer,
                 const std::function<Error(const char* bytes, std::size_t length)>& take);

// ---- Folders ----

// Opens the folder the user named (a link there is followed: it is the
// user's own choice).
Error open_folder(std::string_view utf8_path, Folder& folder);

// Opens the folder that holds the path typed as `utf8_path` (the current
// folder for a bare name), and gives the path's last component in `name`.
Error open_parent_folder(std::string_view utf8_path, Folder& folder, std::string& name);

// Opens `name` in `parent` as a folder to read. A link, or anything else
// that is not a folder, is refused and not followed.
Error open_subfolder(const Folder& parent, const NativeString& name, Folder& folder);

struct FolderItem {
  enum class Kind { folder, file, link, other };
  std::string name;  // UTF-8
  Kind kind = Kind::other;
};

// What `folder` holds, links and all, as they are (nothing followed).
Error list_folder(const Folder& folder, std::vector<FolderItem>& items);

// Whether a file system is mounted on the folder the user named: another
// one begins there (or a bind mount, where the OS tells), or it is the top
// of all.
Error is_mount_point(std::string_view utf8_path, bool& mounted);

// What identifies a file or folder while it exists, its size, and when it
// last changed (an inode number freed is soon given to a new file: the
// time tells them apart; a file rewritten in place keeps its number and
// size, and only the times tell).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t changed = 0;   // the OS's change time, in its own units
  std::uint64_t modified = 0;  // the time of the last write, likewise
  bool is_folder = false;
  bool is_regular = false;
  bool is_link = false;  // a symbolic link, or on Windows a junction

  bool same_object(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  bool unchanged_since(const FileIdentity& earlier) const {
    return same_object(earlier) && size == earlier.size && changed == earlier.changed &&
           modified == earlier.modified;
  }
};

Error identify(const FileHandle& file, FileIdentity& identity);
// The same for `name` in `folder` as it is there (a link is a link).
Error identify_in(const Folder& folder, const NativeString& name, FileIdentity& identity);
// The same for what `name` in `folder` leads to, every link on the way
// followed; Error::is_not_found for a link that leads nowhere.
Error identify_target(const Folder& folder, const NativeString& name, FileIdentity& identity);

// Opens `name` in `folder` for reading: a regular file, no link followed;
// what it is in `identity`.
Error open_file(const Folder& folder, const NativeString& name, FileHandle& file, FileIdentity& identity);

}  // namespace kelvarin::platform
