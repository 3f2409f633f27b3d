// The file, folder and process operations the rest of the program uses.
// Each operating system implements them in a file of its own
// (platform_posix.cpp, platform_win32.cpp); what is built on them the same
// way everywhere (the copy loop, a new file's way to its name, the start of
// a process) is in platform.cpp. Nothing outside this folder includes an OS
// header.
//
// Output goes through open folders: a file or folder is made, named and
// removed relative to the folder that holds it, never by a path resolved
// from the top again, so that nothing swapped in on the way can send it
// elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace kelvarin::platform {

// Names and paths as the OS takes them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativeString = std::wstring;
#else
using NativeString = std::string;
#endif

// The OS's own words for an error code.
std::string describe_os_error(int code);

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
};

// Size of the copy buffer when bytes pass through user memory:
// 1000 × 1024, the program's fixed chunk.
inline constexpr std::size_t kCopyChunk = 1'024'000;

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

// ---- Folders ----

// Opens the folder the user named (a link there is followed: it is the
// user's own choice). With `make`, a missing folder is made first, one
// level: its parent must exist.
Error open_folder(std::string_view utf8_path, bool make, Folder& folder);

// Opens the folder that holds the path typed as `utf8_path` (the current
// folder for a bare name), and gives the path's last component in `name`.
Error open_parent_folder(std::string_view utf8_path, Folder& folder, std::string& name);

// Opens `name` in `parent` as a folder to read. A link, or anything else
// that is not a folder, is refused and not followed.
Error open_subfolder(const Folder& parent, const NativeString& name, Folder& folder);

// Makes `name` in `parent` where missing and opens it; one that is there
// already is opened if it is a real folder. A link is refused, never
// followed.
Error make_folder(const Folder& parent, const NativeString& name, Folder& folder);

// Whether nothing at all holds `name` in `folder` (not even a dangling link).
bool name_is_free(const Folder& folder, const NativeString& name);

// Makes `name` in `parent` as a new, empty folder and opens it. Whatever
// held the name is removed first with remove_tree: it is only called on a
// name of the program's own.
Error make_fresh_folder(const Folder& parent, const NativeString& name, Folder& folder);

// Removes `name` in `parent` and, if it is a folder, everything in it.
// Nothing is followed: each folder is opened relative to the one holding
// it, without following a link, and held while what it holds is removed
// through it, so a folder swapped for a link half-way leads nowhere; links
// are removed as names.
Error remove_tree(const Folder& parent, const NativeString& name);

// Closes `folder` (named `from` in `parent`) and renames it to `to` there,
// where that name is still free; at most an empty folder is replaced where
// the OS has no way to refuse.
Error name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                  const NativeString& to);

struct FolderItem {
  enum class Kind { folder, file, link, other };
  std::string name;  // UTF-8
  Kind kind = Kind::other;
};

// What `folder` holds, links and all, as they are (nothing followed).
Error list_folder(const Folder& folder, std::vector<FolderItem>& items);

// What identifies a file or folder while it exists, its size, and when it
// last changed (an inode number freed is soon given to a new file: the
// time tells them apart).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t changed = 0;  // the OS's change time, in its own units
  bool is_folder = false;
  bool is_regular = false;

  bool same_object(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  bool unchanged_since(const FileIdentity& earlier) const {
    return same_object(earlier) && size == earlier.size && changed == earlier.changed;
  }
};

Error identify(const FileHandle& file, FileIdentity& identity);
// The same for `name` in `folder` as it is there (a link is a link).
Error identify_in(const Folder& folder, const NativeString& name, FileIdentity& identity);

// ---- Files ----

// Opens `name` in `folder` for reading: a regular file, no link followed.
Error open_file(const Folder& folder, const NativeString& name, FileHandle& file);

// Creates `name` in `folder` as a new, empty file for writing where nothing
// holds the name; otherwise fails, and name_taken tells that failure.
Error create_new_file(const Folder& folder, const NativeString& name, FileHandle& file);

// The failure of a creation or a link that found the name held.
bool name_taken(const Error& error);

Error remove_file(const Folder& folder, const NativeString& name);

// Writes all `length` bytes at the handle's position, or fails.
Error write(const FileHandle& file, const void* buffer, std::size_t length);

// Copies `length` bytes from `position` in `from` to the position of `to`:
// in the kernel where the OS can, else through `buffer`, which is grown to
// kCopyChunk once and reused. An archive that ends too soon is a failed
// read ("the archive ends before its last byte").
Error copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                 const FileHandle& to, std::vector<char>& buffer);

// A file being written that takes its final name only once complete, so
// that a failed or killed write never shows under that name nor touches
// what held it. Where the OS can (Linux, most local file systems) it has no
// name at all until then, so a killed run leaves nothing behind; elsewhere
// it is written under a temporary name of the caller's, in the same folder.
class NewFile {
 public:
  // Starts a new, empty file in `folder`; whatever held `temp_name` is
  // removed first, never written into.
  Error begin(const Folder& folder, const NativeString& temp_name);

  const FileHandle& handle() const { return handle_; }

  // Closes the file and gives it `final_name`, replacing what held that
  // name (a file, a link of either kind) in one step, never writing into
  // it. A failure while closing is a failed write (Step::write); either
  // way nothing is left under either name, and what held the final name is
  // untouched.
  Error finish(const Folder& folder, const NativeString& temp_name,
               const NativeString& final_name);

  // Closes and drops a file that failed.
  void abandon(const Folder& folder, const NativeString& temp_name);

 private:
  FileHandle handle_;
  bool named_ = false;  // written under the temporary name
};

// ---- The process ----

bool is_terminal(std::FILE* stream);

// Why a name that is safe everywhere else can't be used on this OS (device
// names, stream separators), or nullptr when it can.
const char* unusable_name_reason(std::string_view name);

// Why Windows can't hold `name` as it is (device names, stream separators,
// characters it forbids, a dot or space at the end), or nullptr when it
// can; on every OS, for what is made to be used on Windows.
const char* windows_name_reason(std::string_view name);

// What every executable's main does: readies the process and the standard
// streams, takes the command line as UTF-8, calls `entry` and flushes the
// output. Returns `entry`'s status.
int run_main(int argc, char** argv, int (*entry)(int argc, char** argv));

// ---- Read-only mounts ----
// Served through FUSE 3 on Linux where it was found at build time
// (fuse_mount_linux.cpp); elsewhere the build has none (mount_unavailable.cpp).

// A tree of folders and files to show read-only, fixed while it is shown.
// Nodes are numbered from 0, the top folder (the mount point itself).
class ReadOnlyTree {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  virtual ~ReadOnlyTree() = default;
  virtual std::uint32_t node_count() const = 0;
  virtual bool is_folder(std::uint32_t node) const = 0;
  virtual std::string_view name(std::uint32_t node) const = 0;
  // The folder holding `node`; the top folder's is itself.
  virtual std::uint32_t parent(std::uint32_t node) const = 0;
  // A folder's contents in their order: the first, then each one's next;
  // kNone past the last.
  virtual std::uint32_t first_child(std::uint32_t folder) const = 0;
  virtual std::uint32_t next_sibling(std::uint32_t node) const = 0;
  // The node named `name` in `folder`, or kNone.
  virtual std::uint32_t find_child(std::uint32_t folder, std::string_view name) const = 0;
  virtual std::uint64_t file_size(std::uint32_t node) const = 0;
  // Reads all `length` bytes of file `node` from `offset` (within the
  // file), or fails: a source that has shrunk gives a failure, never fewer
  // bytes. Called from several threads at once.
  virtual Error read(std::uint32_t node, std::uint64_t offset, void* buffer,
                     std::size_t length) const = 0;
};

// The longest name a mounted folder holds: one path component on Linux
// (NAME_MAX), as on the file systems an extraction writes to there, which
// refuse a longer name.
inline constexpr std::size_t kLongestMountedName = 255;

struct MountOptions {
  // Serve from the calling process, until unmounted; otherwise a process
  // of its own serves and the call returns once the mount is in place.
  bool foreground = false;
  std::string source;                  // what is mounted, as mount tables show it
  const FileHandle* times = nullptr;   // the file whose times every node shows
};

enum class MountEnd { unmounted, detached };

// Whether this build can mount at all.
bool can_mount();

// Mounts `tree` read-only at `mountpoint` (UTF-8) and serves it. Returns
// once it is unmounted (`end` unmounted) or, without options.foreground, in
// the calling process once a detached one serves it (`end` detached); that
// one returns when the mount ends. A failure to mount returns an error
// and mounts nothing.
Error serve_read_only_mount(std::string_view mountpoint, const ReadOnlyTree& tree,
                            const MountOptions& options, MountEnd& end);

// ---- Used by the parts above, one implementation per OS ----

// An unnamed new file in `folder`, or a failure where the OS or the file
// system can't make one (the caller then uses a temporary name).
Error create_unnamed_file(const Folder& folder, FileHandle& file);
// Gives an unnamed file `name` in `folder`; fails with name_taken where
// that name is held.
Error link_unnamed_file(const FileHandle& file, const Folder& folder, const NativeString& name);
// Creates `name` in `folder` as a new file; whatever held it is removed
// first, never written into.
Error create_file(const Folder& folder, const NativeString& name, FileHandle& file);
// Renames `from` over `to` in `folder`, replacing a file of that name.
Error replace_file(const Folder& folder, const NativeString& from, const NativeString& to);
// Copies in the kernel what it can, from the start; returns how many bytes
// that was (the caller copies the rest through memory).
std::uint64_t copy_in_kernel(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                             const FileHandle& to);
// Closes `folder` (`name` in `parent`) and removes it, where it is empty.
Error remove_folder(const Folder& parent, const NativeString& name, Folder& folder);
// Failures that found the name gone, or a folder not empty.
bool name_gone(const Error& error);
bool folder_not_empty(const Error& error);
// Before anything is written: signals, standard streams.
void prepare_process();
// The command line as UTF-8 strings, the program's name first.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace kelvarin::platform
