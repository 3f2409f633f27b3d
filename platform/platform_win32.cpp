// Win32 implementation of the platform layer. Paths are UTF-16 and reach the
// OS in their long form ("\\?\C:\..."), which lifts the 260-character limit
// of ordinary Win32 paths.
//
// Win32 creates nothing relative to a handle, so output goes by paths, and
// what keeps them from being redirected is that every folder from the
// destination down is held open without delete sharing while it is used:
// nobody can rename, remove or replace a held folder, so the path through
// held folders always leads where it led when they were opened, and a link
// swapped in on the way has no place to go.
#include "platform/file_system.h"
#include "platform/os.h"
#include "platform/process.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <vector>

namespace kelvarin {
namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

}  // namespace

Error Error::os(int code, Step step) {
  // A failed call that left no error code must still not read as success.
  if (code == 0) return Error(Kind::other, -1, step, {});
  const auto error = static_cast<DWORD>(code);
  const Kind kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::not_found
                    : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS  ? Kind::name_taken
                    : error == ERROR_DIR_NOT_EMPTY                                  ? Kind::not_empty
                    : error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Kind::locked
                    : error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ? Kind::no_memory
                    : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
                              error == kDiskQuotaExceeded                    ? Kind::no_space
                    : error == ERROR_WRITE_PROTECT                                  ? Kind::read_only
                    : error == ERROR_TOO_MANY_OPEN_FILES                            ? Kind::too_many_open
                                                                                     : Kind::other;
  return Error(kind, code, step, {});
}

}  // namespace kelvarin

namespace kelvarin::platform {
namespace {

using Step = Error::Step;

// ReadFile and WriteFile count in 32-bit DWORDs: longer transfers go in
// steps of this size.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

// Stands in for a text that can't be converted, an empty name, or one
// holding a NUL (where the OS would end it): '?' is refused in every
// Windows name, so a path made with it fails instead of naming something
// else (an empty name would name the folder it is in).
constexpr std::wstring_view kUnconvertible = L"?";

// Sharing is enforced only between opens that ask for data or delete
// access: a folder held with attribute access alone would keep nobody from
// renaming it. Listing is a folder's data access.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Others may read and write in a held folder, and so may the program: a
// rename into the folder opens it for writing. Nobody may delete, rename or
// replace it.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

FileHandle owned(HANDLE handle) { return FileHandle(reinterpret_cast<std::intptr_t>(handle)); }

Error os_error(DWORD code, Step step) { return Error::os(static_cast<int>(code), step); }

Error last_error(Step step) { return os_error(::GetLastError(), step); }

bool is_gone(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

void append_utf8(std::string& text, std::uint32_t code_point) {
  if (code_point < 0x80) {
    text += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    text += static_cast<char>(0xC0 | (code_point >> 6));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    text += static_cast<char>(0xE0 | (code_point >> 12));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code_point >> 18));
    text += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Windows names are any 16-bit units, paired surrogates or not. A lone
// surrogate is written as UTF-8 would write its number, which is not
// well-formed UTF-8: brq pack then refuses the name as not being text,
// where U+FFFD in its place would make it another file's name.
std::string to_utf8(std::wstring_view wide) {
  std::string text;
  text.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t unit = wide[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(text, unit);
  }
  return text;
}

// Long paths reach the file system as written, unlike ordinary ones: a
// doubled separator (a destination "C:\" followed by "\name") would be an
// empty name there, so runs of separators after `keep` become one.
std::wstring single_separators(std::wstring_view path, std::size_t keep) {
  std::wstring out(path.substr(0, keep));
  for (std::size_t i = keep; i < path.size(); ++i) {
    if (path[i] == L'\\' && out.size() > keep && out.back() == L'\\') continue;
    out += path[i];
  }
  return out;
}

// `path` as the OS should get it: absolute, with the long-path prefix.
// Device paths ("\\.\NUL", also what "NUL" turns into) stay as they are.
std::wstring long_form(const std::wstring& path) {
  std::wstring_view view(path);
  if (view.starts_with(kLongPrefix)) return single_separators(view, kLongPrefix.size());
  if (view.starts_with(kDevicePrefix)) return path;
  DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  // The call that uses the path reports what is wrong with it.
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  std::wstring_view full_view(full);
  if (full_view.starts_with(kLongPrefix) || full_view.starts_with(kDevicePrefix)) return full;
  if (full_view.starts_with(L"\\\\")) {
    return std::wstring(kLongUncPrefix) + single_separators(full_view.substr(2), 0);
  }
  return std::wstring(kLongPrefix) + single_separators(full_view, 0);
}

// A folder's own name, without a separator at its end; a drive's root
// ("\\?\C:\") keeps it, as it is the whole name there.
std::wstring without_final_separator(std::wstring path) {
  while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') {
    path.pop_back();
  }
  return path;
}

// Symbolic links and junctions: reparse points that stand for another
// name. Other reparse points (cloud placeholders, deduplicated files) are
// the folders and files they seem.
bool is_link(DWORD attributes, DWORD reparse_tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparse_tag);
}

bool is_link(const FILE_ATTRIBUTE_TAG_INFO& info) {
  return is_link(info.FileAttributes, info.ReparseTag);
}

// The attributes and reparse tag of what is at `path`, the link itself or,
// with `follow`, what it leads to. Attribute access alone takes part in no
// sharing, so this works whoever holds the file. False with the error left
// for GetLastError.
bool look_at(const std::wstring& path, bool follow, FILE_ATTRIBUTE_TAG_INFO& info) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileHandle closer = owned(handle);
  return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) != 0;
}

// Why `path` could not be opened as a folder: a link is named as one, a
// file as what it is, anything else in the OS's words.
Error not_a_folder(const std::wstring& path, bool follow, DWORD error) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!look_at(path, follow, info)) return os_error(error, Step::other);
  if (is_link(info)) return Error::of_kind(Error::Kind::is_link, "is a link, which is not followed");
  if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Error::of_kind(Error::Kind::not_a_folder, "exists and is not a folder");
  }
  return os_error(error, Step::other);
}

// Opens `path` (no separator at its end) as a folder and holds it; a link
// there is followed only with `follow`, and refused otherwise.
Error hold_folder(const std::wstring& path, bool follow, Folder& folder) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle =
      ::CreateFileW(path.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return not_a_folder(path, follow, ::GetLastError());
  FileHandle held = owned(handle);
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    return last_error(Step::other);
  }
  if (is_link(info)) return Error::of_kind(Error::Kind::is_link, "is a link, which is not followed");
  // A device opens too ("\\.\NUL"), and a file: only a folder on a disk is one.
  if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || ::GetFileType(handle) != FILE_TYPE_DISK) {
    return Error::of_kind(Error::Kind::not_a_folder, "exists and is not a folder");
  }
  folder.handle = std::move(held);
  folder.path = path;
  if (folder.path.back() != L'\\') folder.path += L'\\';
  return {};
}

// Opens `name` in `parent` as a folder without following a link there.
Error hold_subfolder(const Folder& parent, const std::wstring& name, Folder& folder) {
  return hold_folder(parent.path + name, false, folder);
}

// Takes the read-only attribute off what `path` names (the link itself,
// where it is one), which keeps a file or folder from being removed.
void clear_read_only(const std::wstring& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  FileHandle closer = owned(handle);
  // Zero times are left as they are; the other attributes don't matter on
  // something about to be removed.
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
}

// Removes the file or link `path` names, never what a link leads to. A
// link to a folder (a junction, a folder's symbolic link) is removed as a
// folder is, which takes the link alone; a real folder is not removed.
Error remove_name(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) return {};
  const DWORD error = ::GetLastError();
  // Refused: maybe read-only, or a link that counts as a folder.
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (is_gone(error) || !look_at(path, false, info)) return os_error(error, Step::remove);
  const bool folder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool read_only = (info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (folder ? !is_link(info) : !read_only) return os_error(error, Step::remove);
  if (read_only) clear_read_only(path);
  const BOOL removed = folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
  return removed ? Error{} : last_error(Step::remove);
}

// Removes the empty folder `path`, which nothing may hold open: 0, or why
// it is still there.
DWORD remove_empty_folder(const std::wstring& path) {
  if (::RemoveDirectoryW(path.c_str())) return 0;
  const DWORD error = ::GetLastError();
  if (is_gone(error)) return 0;
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (error != ERROR_ACCESS_DENIED || !look_at(path, false, info) ||
      (info.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return error;
  }
  clear_read_only(path);
  return ::RemoveDirectoryW(path.c_str()) ? 0 : ::GetLastError();
}

FolderItem::Kind kind_of(const WIN32_FIND_DATAW& found) {
  // dwReserved0 holds the reparse tag where the attribute says there is one.
  if (is_link(found.dwFileAttributes, found.dwReserved0)) return FolderItem::Kind::link;
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FolderItem::Kind::folder;
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return FolderItem::Kind::other;
  return FolderItem::Kind::file;
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info, const FILE_BASIC_INFO& times,
                         const FILE_STANDARD_INFO& standard, bool link, bool on_disk) {
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  FileIdentity identity;
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  identity.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  // The change time moves with every write and every change of the file's
  // own record; FAT keeps none (0), only the time of the last write.
  const LONGLONG changed = times.ChangeTime.QuadPart != 0 ? times.ChangeTime.QuadPart
                                                           : times.LastWriteTime.QuadPart;
  identity.changed = static_cast<std::uint64_t>(changed);
  identity.modified = static_cast<std::uint64_t>(times.LastWriteTime.QuadPart);
  identity.is_folder = folder && !link;
  identity.is_regular = !folder && !link && on_disk;
  identity.is_link = link;
  return identity;
}

Error identify_handle(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return last_error(Step::read);
  FILE_BASIC_INFO times{};
  FILE_STANDARD_INFO standard{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) ||
      !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    return last_error(Step::read);
  }
  bool link = false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
      return last_error(Step::read);
    }
    link = is_link(tag);
  }
  identity = identity_of(info, times, standard, link, ::GetFileType(handle) == FILE_TYPE_DISK);
  return {};
}

}  // namespace

std::string os::describe_error(int code) {
  if (code < 0) return "unknown error";
  wchar_t* text = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? to_utf8(std::wstring_view(text, length)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  // System messages end with ".\r\n"; the error line has its own end.
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "Windows error " + std::to_string(code);
  return message;
}

Error FileHandle::close() {
  if (!is_open()) return {};
  HANDLE handle = reinterpret_cast<HANDLE>(release());
  if (!::CloseHandle(handle)) return last_error(Step::write);
  return {};
}

void native_name(std::string_view utf8, NativeString& out) {
  if (utf8.empty() || utf8.size() > INT_MAX || utf8.find('\0') != std::string_view::npos) {
    out.assign(kUnconvertible);
    return;
  }
  // UTF-16 takes at most one unit per byte of UTF-8, so one call does.
  // Flags 0: a byte that isn't UTF-8 becomes U+FFFD instead of failing.
  out.resize(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           out.data(), static_cast<int>(out.size()));
  if (length <= 0) {
    out.assign(kUnconvertible);
    return;
  }
  out.resize(static_cast<std::size_t>(length));
}

bool ends_with_separator(std::string_view utf8) {
  return !utf8.empty() && (utf8.back() == '/' || utf8.back() == '\\');
}

Error open_archive(std::string_view utf8_path, FileHandle& archive) {
  NativeString path;
  native_name(utf8_path, path);
  HANDLE handle = ::CreateFileW(long_form(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error(Step::open);
  FileHandle file = owned(handle);
  // Devices, pipes and consoles open too; only a file on a disk is an archive.
  FileIdentity identity;
  if (!identify_handle(handle, identity).ok() || !identity.is_regular) {
    return Error::because("not a regular file", Step::open);
  }
  archive = std::move(file);
  return {};
}

Error duplicate(const FileHandle& file, FileHandle& copy) {
  HANDLE handle = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle_of(file), ::GetCurrentProcess(), &handle, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return last_error(Step::open);
  }
  copy = owned(handle);
  return {};
}

Error lock_for_change(const FileHandle& file, FileHandle& held) {
  // A range no archive reaches, so that readers never meet the lock: the
  // lock, not the sharing, keeps changes apart, since a reader's sharing is
  // a change's too.
  held = FileHandle();
  OVERLAPPED at{};
  at.Offset = 0;
  at.OffsetHigh = 0x7fff'ffffu;
  if (::LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return {};
  return last_error(Step::open);
}

// Windows reads ahead of a file being read by itself; nothing asks it to
// start on the next one.
void read_ahead(const FileHandle&) {}

Error read_at(const FileHandle& file, std::uint64_t position, void* buffer, std::size_t length,
              std::size_t& got) {
  // On a handle opened for synchronous use, the offset in OVERLAPPED says
  // where to read and the call returns once it is done. It leaves the
  // handle's position after the bytes read, which nothing here uses: the
  // archive is only ever read by position.
  got = 0;
  char* bytes = static_cast<char*>(buffer);
  while (got < length) {
    const std::uint64_t at = position + got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD ask = static_cast<DWORD>(std::min(length - got, kMaxTransfer));
    DWORD n = 0;
    if (!::ReadFile(handle_of(file), bytes + got, ask, &n, &where)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return last_error(Step::read);
    }
    if (n == 0) break;
    got += n;
  }
  return {};
}

Error open_folder(std::string_view utf8_path, Folder& folder) {
  NativeString typed;
  native_name(utf8_path, typed);
  return hold_folder(without_final_separator(long_form(typed)), true, folder).during(Step::open);
}

Error is_mount_point(std::string_view utf8_path, bool& mounted) {
  NativeString typed;
  native_name(utf8_path, typed);
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = ::GetFullPathNameW(typed.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = ::GetFullPathNameW(typed.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return last_error(Step::open);
  full.resize(length);
  if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES) return last_error(Step::open);
  full = without_final_separator(full);
  if (full.back() != L'\\') full += L'\\';
  // A volume mounted on a folder has that folder as its root.
  std::wstring volume(full.size() + 1, L'\0');
  if (!::GetVolumePathNameW(full.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    return last_error(Step::open);
  }
  volume.resize(std::wcslen(volume.c_str()));
  mounted = ::CompareStringOrdinal(volume.c_str(), -1, full.c_str(), -1, TRUE) == CSTR_EQUAL;
  return {};
}

Error os::open_destination(std::string_view utf8_path, bool make_parents, Folder& folder) {
  NativeString typed;
  native_name(utf8_path, typed);
  const std::wstring path = without_final_separator(long_form(typed));
  // As mkdir -p: each folder on the way from the top down, where missing.
  // The drive or share at the top can't be made and needn't be: why the
  // deepest folder on the way was not made is kept for when the
  // destination then can't be made for want of it.
  DWORD parent_error = 0;
  for (std::size_t separator = path.find(L'\\', kLongPrefix.size());
       make_parents && separator != std::wstring::npos; separator = path.find(L'\\', separator + 1)) {
    const DWORD made = ::CreateDirectoryW(path.substr(0, separator).c_str(), nullptr) ? 0 : ::GetLastError();
    parent_error = made == ERROR_ALREADY_EXISTS ? 0 : made;
  }
  if (!::CreateDirectoryW(path.c_str(), nullptr)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_PATH_NOT_FOUND && parent_error != 0) error = parent_error;
    // A drive's root, or a folder where the user may make none, can be
    // there all the same.
    if (error != ERROR_ALREADY_EXISTS) {
      return hold_folder(path, true, folder).ok() ? Error{} : os_error(error, Step::create);
    }
  }
  return hold_folder(path, true, folder).during(Step::open);
}

Error open_parent_folder(std::string_view utf8_path, Folder& folder, std::string& name) {
  const std::size_t slash = utf8_path.find_last_of("/\\");
  if (slash == std::string_view::npos) {
    // "C:x" is x in drive C's current folder, not a stream of a file "C".
    const bool drive = utf8_path.size() >= 2 && utf8_path[1] == ':' &&
                       ((utf8_path[0] >= 'A' && utf8_path[0] <= 'Z') ||
                        (utf8_path[0] >= 'a' && utf8_path[0] <= 'z'));
    name = utf8_path.substr(drive ? 2 : 0);
    return open_folder(drive ? utf8_path.substr(0, 2) : ".", folder);
  }
  name = utf8_path.substr(slash + 1);
  // "\x" is in the current drive's root, "C:\x" in that drive's: the
  // separator stays, where "C:" alone would be the drive's current folder.
  std::string_view parent = utf8_path.substr(0, slash);
  if (parent.empty() || parent.back() == ':') parent = utf8_path.substr(0, slash + 1);
  return open_folder(parent, folder);
}

Error open_subfolder(const Folder& parent, const NativeString& name, Folder& folder) {
  return hold_subfolder(parent, name, folder).during(Step::open);
}

Error os::make_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  if (!::CreateDirectoryW((parent.path + name).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return last_error(Step::create);
  }
  return hold_subfolder(parent, name, folder).during(Step::create);
}

bool os::name_is_free(const Folder& folder, const NativeString& name) {
  // The attributes of a link are its own: a link to nowhere holds the name.
  return ::GetFileAttributesW((folder.path + name).c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Windows takes names in any case for one. A folder can be made to tell
// case apart (for Linux programs under WSL), but that is rare, and taking
// it for one that doesn't only leaves out a file that could be written.
Error os::folds_case(const Folder&, const NativeString&, const NativeString&, bool& folds) {
  folds = kFoldsCase;
  return {};
}

Error os::make_new_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  if (!::CreateDirectoryW((parent.path + name).c_str(), nullptr)) return last_error(Step::create);
  return hold_subfolder(parent, name, folder).during(Step::create);
}

Error os::name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                  const NativeString& to) {
  // Held, the folder could not be renamed; its sharing is all its lock.
  folder.handle.close();
  folder.lock.close();
  const std::wstring from_path = parent.path + from;
  const std::wstring to_path = parent.path + to;
  // A folder can't be renamed while anything holds a file in it open, and
  // virus scanners open new files for a moment after they are written: a
  // refusal of that kind is tried again for two and a half seconds in all.
  // Without MOVEFILE_REPLACE_EXISTING a taken name is refused.
  DWORD wait_ms = 10;
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(from_path.c_str(), to_path.c_str(), 0)) return {};
    const DWORD error = ::GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 8) {
      return os_error(error, Step::rename);
    }
    ::Sleep(wait_ms);
    wait_ms *= 2;
  }
}

Error list_folder(const Folder& folder, std::vector<FolderItem>& items) {
  items.clear();
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW((folder.path + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's root has no "." nor "..": empty, it matches nothing.
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Error{} : os_error(error, Step::read);
  }
  Error result;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") items.push_back({to_utf8(name), kind_of(found)});
  } while (::FindNextFileW(search, &found));
  if (::GetLastError() != ERROR_NO_MORE_FILES) result = last_error(Step::read);
  ::FindClose(search);
  return result;
}

Error identify(const FileHandle& file, FileIdentity& identity) {
  return identify_handle(handle_of(file), identity);
}

Error identify_in(const Folder& folder, const NativeString& name, FileIdentity& identity) {
  HANDLE handle = ::CreateFileW((folder.path + name).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error(Step::read);
  FileHandle closer = owned(handle);
  return identify_handle(handle, identity);
}

Error identify_target(const Folder& folder, const NativeString& name, FileIdentity& identity) {
  HANDLE handle = ::CreateFileW((folder.path + name).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error(Step::read);
  FileHandle closer = owned(handle);
  return identify_handle(handle, identity);
}

Error open_file(const Folder& folder, const NativeString& name, FileHandle& file, FileIdentity& identity) {
  const std::wstring path = folder.path + name;
  // Shared for reading only: while it is open nobody can write it, nor
  // rename it or put a link in its place.
  auto open = [&](DWORD flags) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  };
  HANDLE handle = open(FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return last_error(Step::open);
  FileHandle opened = owned(handle);
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    return last_error(Step::open);
  }
  if (is_link(info)) return Error::because("is a link, which is not followed", Step::open);
  if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Opened as the reparse point itself, a deduplicated file or a cloud
    // placeholder gives its stub's bytes, not its own: it is opened again
    // through the driver that owns it, and must still be the same file.
    HANDLE through = open(0);
    if (through == INVALID_HANDLE_VALUE) return last_error(Step::open);
    FileHandle reopened = owned(through);
    FileIdentity first, second;
    if (!identify_handle(handle, first).ok() || !identify_handle(through, second).ok() ||
        !first.same_object(second)) {
      return Error::because("changed while it was opened", Step::open);
    }
    opened = std::move(reopened);
    handle = through;
  }
  Error identified = identify_handle(handle, identity);
  if (!identified.ok()) return identified.during(Step::open);
  if (!identity.is_regular) return Error::because("not a regular file", Step::open);
  file = std::move(opened);
  return {};
}

Error os::create_new_file(const Folder& folder, const NativeString& name, FileHandle& file) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a link that holds the name is the name
  // taken, never followed to create its target.
  HANDLE handle = ::CreateFileW((folder.path + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error(Step::create);
  file = owned(handle);
  return {};
}

Error os::remove_file(const Folder& folder, const NativeString& name) {
  return remove_name(folder.path + name);
}

Error os::write(const FileHandle& file, const void* buffer, std::size_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  while (length > 0) {
    DWORD ask = static_cast<DWORD>(std::min(length, kMaxTransfer));
    DWORD n = 0;
    if (!::WriteFile(handle_of(file), bytes, ask, &n, nullptr)) return last_error(Step::write);
    if (n == 0) return os_error(ERROR_DISK_FULL, Step::write);
    bytes += n;
    length -= n;
  }
  return {};
}

Error os::set_position(const FileHandle& file, std::uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  if (!::SetFilePointerEx(handle_of(file), to, nullptr, FILE_BEGIN)) return last_error(Step::write);
  return {};
}

// Windows has no unnamed files: every new file that replaces one is
// written under its temporary name and moved over the final one.
Error os::create_unnamed_file(const Folder&, FileHandle&) {
  return os_error(ERROR_NOT_SUPPORTED, Step::create);
}

Error os::link_unnamed_file(const FileHandle&, const Folder&, const NativeString&) {
  return os_error(ERROR_NOT_SUPPORTED, Step::create);
}

Error os::replace_file(const Folder& folder, const NativeString& from, const NativeString& to) {
  if (!::MoveFileExW((folder.path + from).c_str(), (folder.path + to).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
    return last_error(Step::rename);
  }
  return {};
}

// No copy in the kernel here: the bytes go through memory.
std::uint64_t os::copy_in_kernel(const FileHandle&, std::uint64_t, std::uint64_t, const FileHandle&, CopyWay) {
  return 0;
}

// A file or folder is locked by the sharing it is held with: without delete
// sharing nobody can remove it, nor open it to claim it.
Error os::lock(const FileHandle&, FileHandle& held) {
  held = FileHandle();
  return {};
}

Error os::claim(const Folder& parent, const NativeString& name, FileHandle& claimed) {
  // Opened with delete access and no sharing at all: only what nobody
  // holds opens so. Let go at once, or it could not be removed.
  HANDLE handle = ::CreateFileW((parent.path + name).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return is_gone(error) ? Error{} : os_error(error, Step::remove);
  }
  ::CloseHandle(handle);
  claimed = FileHandle();
  return {};
}

Error os::remove_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  // Held, the folder could not be removed.
  folder.handle.close();
  const DWORD error = remove_empty_folder(parent.path + name);
  return error == 0 ? Error{} : os_error(error, Step::remove);
}

bool is_terminal(std::FILE* stream) {
  int fd = ::_fileno(stream);
  if (fd < 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return false;
  // A character device may also be NUL or a serial port: only a console
  // has a console mode.
  DWORD mode = 0;
  return ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

// The C runtime keeps the OS's code of a failed write in _doserrno; errno
// has only the runtime's own, coarser one.
Error write_stream(std::FILE* stream, std::string_view bytes) {
  _doserrno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size()) return {};
  if (_doserrno != 0) return os_error(static_cast<DWORD>(_doserrno), Step::write);
  return Error::because(std::strerror(errno), Step::write);
}

Error flush_stream(std::FILE* stream) {
  _doserrno = 0;
  if (std::fflush(stream) == 0) return {};
  if (_doserrno != 0) return os_error(static_cast<DWORD>(_doserrno), Step::write);
  return Error::because(std::strerror(errno), Step::write);
}

bool reader_gone(const Error& error) {
  return error.os_code() == static_cast<int>(ERROR_BROKEN_PIPE) ||
         error.os_code() == static_cast<int>(ERROR_NO_DATA);
}

void os::prepare_process() {
  // Lines end with "\n" as on every other OS, and names print byte for
  // byte as the archive holds them: the C runtime's text mode would turn
  // each "\n" into "\r\n".
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // A drive without its medium fails the call that touches it, instead of
  // stopping the run at a dialog box nobody may be there to answer.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS);
}

// Windows limits handles only by memory.
std::size_t spare_descriptors() { return SIZE_MAX; }

std::vector<std::string> os::utf8_arguments(int argc, char** argv) {
  // `argv` is in the ANSI code page, which can't hold every name: the wide
  // command line can. CommandLineToArgvW splits it by the C runtime's rules
  // and expands no wildcards.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(to_utf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace kelvarin::platform
