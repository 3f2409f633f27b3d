// The file, folder and text operations the rest of the program uses. Each
// operating system implements them in one file of its own
// (platform_posix.cpp, platform_win32.cpp); nothing outside this folder
// includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin::platform {

// Paths as the OS takes them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativeString = std::wstring;
inline constexpr wchar_t kSeparator = L'\\';
#else
using NativeString = std::string;
inline constexpr char kSeparator = '/';
#endif

// The result of one operation. `os_error` is errno or GetLastError();
// `what` replaces the OS's text where the failure is the program's own
// finding (a folder given as the archive, an archive that ends too soon).
struct Outcome {
  int os_error = 0;
  const char* what = nullptr;

  bool ok() const { return os_error == 0 && what == nullptr; }
  static Outcome because(const char* reason) { return Outcome{0, reason}; }
};

// The OS's own words for a failed outcome ("No such file or directory").
std::string describe(const Outcome& outcome);

// An open file that closes itself. Movable, not copyable.
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
  // Closing a written file can still report a failed write; callers that
  // wrote through the handle check this outcome.
  Outcome close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t native_ = kInvalid;
};

// Size of the copy buffer when bytes pass through user memory:
// 1000 × 1024, the program's fixed chunk.
inline constexpr std::size_t kCopyChunk = 1'024'000;

// UTF-8 text (an argument, a name) in the OS's path form. No separator is
// changed: the callers compose paths with kSeparator themselves.
NativeString native_path(std::string_view utf8);

// The destination folder as the base of every composed output path. On
// Windows it is made absolute and given the "\\?\" prefix, so that paths
// past the classic 260 characters work; it ends with a separator when the
// typed one does.
NativeString destination_base(std::string_view utf8);

// Opens an existing regular file for reading (others may read it too).
// A folder, a device or a pipe counts as a failure.
Outcome open_archive(const NativeString& path, FileHandle& archive);

Outcome file_size(const FileHandle& file, std::uint64_t& size);

Outcome seek(const FileHandle& file, std::uint64_t position);

// Reads up to `length` bytes at the current position; `got` is short only
// at the end of the file.
Outcome read(const FileHandle& file, void* buffer, std::size_t length, std::size_t& got);

// Creates a new, empty file for writing. Whatever held the name before (a
// file, a link of either kind) is removed first, never written into.
Outcome create_file(const NativeString& path, FileHandle& file);

// Creates a new, empty file for writing only where nothing holds the name;
// otherwise fails, and `name_taken` tells that failure from others.
Outcome create_new_file(const NativeString& path, FileHandle& file);

// The failure of a creation that found the name held.
bool name_taken(const Outcome& outcome);

// Writes all `length` bytes at the current position, or fails.
Outcome write(const FileHandle& file, const void* buffer, std::size_t length);

// How a copy ended: where it failed, if it did.
struct CopyOutcome {
  enum class Side { none, read, end_of_archive, write };
  Side side = Side::none;
  Outcome outcome;
  bool ok() const { return side == Side::none; }
};

// Copies `length` bytes from `position` in `from` to the current position
// of `to`. Where the OS can copy in the kernel it does; otherwise the bytes
// go through `buffer`, which is grown to kCopyChunk once and reused.
CopyOutcome copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                       const FileHandle& to, std::vector<char>& buffer);

// Creates one folder level. Succeeds when the folder exists already as a
// real folder; a link to a folder counts only where `follow_link` is set
// (the destination the user named), never inside it.
Outcome make_folder(const NativeString& path, bool follow_link);

// Whether nothing at all holds `path` (not even a link to nowhere).
bool name_is_free(const NativeString& path);

// Creates `path` as a new, empty folder. Whatever held the name is removed
// first, a folder with all it holds included, and links are removed, never
// followed: it is only called on a name of the program's own.
Outcome make_fresh_folder(const NativeString& path);

// Gives the folder `from` the name `to` in one step, where that name is
// still free; at most an empty folder is replaced where the OS has no way
// to refuse. Neither path ends with a separator.
Outcome name_folder(const NativeString& from, const NativeString& to);

// Renames `from` over `to`, replacing a file of that name in one step.
Outcome replace_file(const NativeString& from, const NativeString& to);

// A file being written that takes its final name only once complete.
// Where the OS can (Linux, most local file systems) it has no name at all
// until then, so a killed run leaves nothing behind; elsewhere it is
// written under its temporary name.
struct NewFile {
  FileHandle handle;
  bool named = false;  // written under the temporary name
};

// Starts a new, empty file in `folder` (which ends with a separator).
// `temp_path`, in that folder, is used where the file can't be unnamed;
// whatever held it is removed first, never written into.
Outcome begin_file(const NativeString& folder, const NativeString& temp_path, NewFile& file);

// How giving a complete file its name ended. A failure while closing is a
// failed write (the OS may report one only then); any other is a failure to
// create. Either way nothing is left under either name, and what held the
// final name is untouched.
struct FinishOutcome {
  Outcome outcome;
  bool while_closing = false;
  bool ok() const { return outcome.ok(); }
};

// Closes the file and gives it `final_path`, replacing what held that name
// (a file, a link of either kind) in one step, never writing into it.
FinishOutcome finish_file(NewFile& file, const NativeString& temp_path,
                          const NativeString& final_path);

// Closes and drops a file that failed.
void abandon_file(NewFile& file, const NativeString& temp_path);

Outcome remove_file(const NativeString& path);

bool is_terminal(std::FILE* stream);

// Readies standard output and standard error before anything is written to
// them. On Windows they are put in binary mode: lines end with "\n" as on
// every other OS and names pass byte for byte, instead of the C runtime
// turning "\n" into "\r\n".
void prepare_output_streams();

// The command line as UTF-8 strings, the program's name first. Windows
// hands `main` its arguments in the ANSI code page, so there they are taken
// again from the wide command line, split by the usual rules and without
// any wildcard expansion; elsewhere they are `argv` as it is.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Why a name that is safe everywhere else can't be used on this OS (device
// names, stream separators), or nullptr when it can.
const char* unusable_name_reason(std::string_view name);

}  // namespace kelvarin::platform
