// Win32 implementation of the platform layer. Paths are UTF-16 and reach the
// OS in their long form ("\\?\C:\..."), which lifts the 260-character limit
// of ordinary Win32 paths.
#include "platform/platform.h"

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
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvarin::platform {
namespace {

// ReadFile and WriteFile count in 32-bit DWORDs: longer transfers go in
// steps of this size.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

// Stands in for a text that can't be converted: '?' is refused in every
// Windows name, so a path made with it fails instead of naming something
// else (an empty name would name the folder it is in).
constexpr std::wstring_view kUnconvertible = L"?";

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

Outcome from_error(DWORD error) {
  // A failed call sets an error; should one not, it must still not read as
  // a success.
  return Outcome{error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE)};
}

Outcome last_error() { return from_error(::GetLastError()); }

std::string to_utf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int length = static_cast<int>(wide.size());
  int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
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

// The attributes and reparse tag of what is at `path`, the link itself or,
// with `follow`, what it leads to.
bool look_at(const std::wstring& path, bool follow, FILE_ATTRIBUTE_TAG_INFO& info) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileHandle closer(reinterpret_cast<std::intptr_t>(handle));
  return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) != 0;
}

// Symbolic links and junctions: reparse points that stand for another
// name. Other reparse points (cloud placeholders, deduplicated files) are
// the folders and files they seem.
bool is_link(const FILE_ATTRIBUTE_TAG_INFO& info) {
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(info.ReparseTag);
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  auto same = [](char x, char y) { return ascii_upper(x) == ascii_upper(y); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

// Windows opens a device instead of a file for these names, whatever
// follows the first dot and however they are written.
bool is_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (same_ignoring_case(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  std::string_view port = stem.substr(0, 3);
  if (!same_ignoring_case(port, "COM") && !same_ignoring_case(port, "LPT")) return false;
  std::string_view number = stem.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three count as digits here.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

std::string describe(const Outcome& outcome) {
  if (outcome.what != nullptr) return outcome.what;
  wchar_t* text = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(outcome.os_error), 0, reinterpret_cast<wchar_t*>(&text), 0,
      nullptr);
  std::string message = length > 0 ? to_utf8(std::wstring_view(text, length)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  // System messages end with ".\r\n"; the error line has its own end.
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "Windows error " + std::to_string(outcome.os_error);
  return message;
}

Outcome FileHandle::close() {
  if (!is_open()) return {};
  HANDLE handle = reinterpret_cast<HANDLE>(release());
  if (!::CloseHandle(handle)) return last_error();
  return {};
}

NativeString native_path(std::string_view utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > INT_MAX) return NativeString(kUnconvertible);
  const int length = static_cast<int>(utf8.size());
  // Flags 0: a byte that isn't UTF-8 becomes U+FFFD instead of failing.
  int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (size <= 0) return NativeString(kUnconvertible);
  NativeString wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
  return wide;
}

NativeString destination_base(std::string_view utf8) {
  NativeString base = long_form(native_path(utf8));
  const bool typed_separator = !utf8.empty() && (utf8.back() == '\\' || utf8.back() == '/');
  if (typed_separator && !base.empty() && base.back() != kSeparator) base += kSeparator;
  return base;
}

Outcome open_archive(const NativeString& path, FileHandle& archive) {
  HANDLE handle = ::CreateFileW(long_form(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  FileHandle file(reinterpret_cast<std::intptr_t>(handle));
  // Devices, pipes and consoles open too; only a file on a disk is an archive.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return Outcome::because("not a regular file");
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return last_error();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Outcome::because("not a regular file");
  }
  archive = std::move(file);
  return {};
}

Outcome file_size(const FileHandle& file, std::uint64_t& size) {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(handle_of(file), &value)) return last_error();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return {};
}

Outcome seek(const FileHandle& file, std::uint64_t position) {
  if (position > static_cast<std::uint64_t>(INT64_MAX)) return from_error(ERROR_NEGATIVE_SEEK);
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(position);
  if (!::SetFilePointerEx(handle_of(file), distance, nullptr, FILE_BEGIN)) return last_error();
  return {};
}

Outcome read(const FileHandle& file, void* buffer, std::size_t length, std::size_t& got) {
  got = 0;
  char* bytes = static_cast<char*>(buffer);
  while (got < length) {
    DWORD ask = static_cast<DWORD>(std::min(length - got, kMaxTransfer));
    DWORD n = 0;
    if (!::ReadFile(handle_of(file), bytes + got, ask, &n, nullptr)) return last_error();
    if (n == 0) break;
    got += n;
  }
  return {};
}

Outcome create_file(const NativeString& path, FileHandle& file) {
  // Always a new file: whatever holds the name (a hard link to a file
  // elsewhere, a link, a leftover) is removed, never written into.
  const std::wstring long_path = long_form(path);
  auto create_new = [&] {
    return ::CreateFileW(long_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE handle = create_new();
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
    if (!::DeleteFileW(long_path.c_str())) return last_error();
    handle = create_new();
  }
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  file = FileHandle(reinterpret_cast<std::intptr_t>(handle));
  return {};
}

Outcome create_new_file(const NativeString& path, FileHandle& file) {
  HANDLE handle = ::CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  file = FileHandle(reinterpret_cast<std::intptr_t>(handle));
  return {};
}

bool name_taken(const Outcome& outcome) {
  return outcome.os_error == ERROR_FILE_EXISTS || outcome.os_error == ERROR_ALREADY_EXISTS;
}

Outcome write(const FileHandle& file, const void* buffer, std::size_t length) {
  const char* bytes = static_cast<const char*>(buffer);
  while (length > 0) {
    DWORD ask = static_cast<DWORD>(std::min(length, kMaxTransfer));
    DWORD n = 0;
    if (!::WriteFile(handle_of(file), bytes, ask, &n, nullptr)) return last_error();
    if (n == 0) return from_error(ERROR_DISK_FULL);
    bytes += n;
    length -= n;
  }
  return {};
}

CopyOutcome copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                       const FileHandle& to, std::vector<char>& buffer) {
  Outcome positioned = seek(from, position);
  if (!positioned.ok()) return CopyOutcome{CopyOutcome::Side::read, positioned};
  if (buffer.size() < kCopyChunk) buffer.resize(kCopyChunk);
  std::uint64_t done = 0;
  while (done < length) {
    std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kCopyChunk));
    std::size_t got = 0;
    Outcome read_outcome = read(from, buffer.data(), chunk, got);
    if (!read_outcome.ok()) return CopyOutcome{CopyOutcome::Side::read, read_outcome};
    if (got < chunk) return CopyOutcome{CopyOutcome::Side::end_of_archive, {}};
    Outcome write_outcome = write(to, buffer.data(), chunk);
    if (!write_outcome.ok()) return CopyOutcome{CopyOutcome::Side::write, write_outcome};
    done += chunk;
  }
  return {};
}

Outcome make_folder(const NativeString& path, bool follow_link) {
  std::wstring folder = long_form(path);
  // The folder's own name, without the separator the walk ends it with; a
  // drive's root ("\\?\C:\") keeps it, as it is the whole name there.
  if (folder.size() > 1 && folder.back() == L'\\' && folder[folder.size() - 2] != L':') {
    folder.pop_back();
  }
  if (::CreateDirectoryW(folder.c_str(), nullptr)) return {};
  DWORD error = ::GetLastError();
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!look_at(folder, false, info)) return from_error(error);
  if (is_link(info)) {
    if (!follow_link) return Outcome::because("is a link, which is not followed");
    if (!look_at(folder, true, info)) return last_error();
  }
  if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Outcome::because("exists and is not a folder");
  }
  return {};
}

bool name_is_free(const NativeString& path) {
  // A missing folder on the way (ERROR_PATH_NOT_FOUND) is no free name:
  // nothing could be put there.
  return ::GetFileAttributesW(long_form(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

namespace {

// Removes `path` and, if it is a folder, everything in it. Links and
// junctions are removed as names, never entered. It works from a list of
// folders instead of recursing; a folder is listed again until it is empty.
Outcome remove_tree(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Outcome{} : from_error(error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    return ::DeleteFileW(path.c_str()) ? Outcome{} : last_error();
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return ::RemoveDirectoryW(path.c_str()) ? Outcome{} : last_error();
  }

  std::vector<std::wstring> folders{path};
  while (!folders.empty()) {
    if (::RemoveDirectoryW(folders.back().c_str())) {
      folders.pop_back();
      continue;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      folders.pop_back();
      continue;
    }
    if (error != ERROR_DIR_NOT_EMPTY) return from_error(error);
    const std::wstring folder = folders.back();
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return last_error();
    Outcome result;
    bool found_folder = false;
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring entry = folder + L"\\" + found.cFileName;
      const DWORD kind = found.dwFileAttributes;
      if ((kind & FILE_ATTRIBUTE_DIRECTORY) != 0 && (kind & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        folders.push_back(entry);
        found_folder = true;
        continue;
      }
      if ((kind & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
      }
      BOOL removed = (kind & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ::RemoveDirectoryW(entry.c_str())
                                                           : ::DeleteFileW(entry.c_str());
      if (!removed) {
        result = last_error();
        break;
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    if (!result.ok()) return result;
    // Emptied without a folder to descend into, yet not removable: give up
    // rather than list it forever.
    if (!found_folder && !::RemoveDirectoryW(folder.c_str())) {
      error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return from_error(error);
    }
  }
  return {};
}

}  // namespace

Outcome make_fresh_folder(const NativeString& path) {
  const std::wstring folder = long_form(path);
  if (::CreateDirectoryW(folder.c_str(), nullptr)) return {};
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return last_error();
  Outcome removed = remove_tree(folder);
  if (!removed.ok()) return removed;
  if (!::CreateDirectoryW(folder.c_str(), nullptr)) return last_error();
  return {};
}

Outcome name_folder(const NativeString& from, const NativeString& to) {
  const std::wstring from_path = long_form(from);
  const std::wstring to_path = long_form(to);
  // A folder can't be renamed while anything holds a file in it open, and
  // virus scanners open new files for a moment after they are written: a
  // refusal of that kind is tried again for two and a half seconds in all.
  // Without MOVEFILE_REPLACE_EXISTING a taken name is refused.
  DWORD wait_ms = 10;
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(from_path.c_str(), to_path.c_str(), 0)) return {};
    DWORD error = ::GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 8) {
      return from_error(error);
    }
    ::Sleep(wait_ms);
    wait_ms *= 2;
  }
}

Outcome replace_file(const NativeString& from, const NativeString& to) {
  if (!::MoveFileExW(long_form(from).c_str(), long_form(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return last_error();
  }
  return {};
}

Outcome remove_file(const NativeString& path) {
  if (!::DeleteFileW(long_form(path).c_str())) return last_error();
  return {};
}

// Windows has no unnamed files: the file is written under its temporary
// name and moved over the final one when complete.
Outcome begin_file(const NativeString&, const NativeString& temp_path, NewFile& file) {
  file.named = true;
  return create_file(temp_path, file.handle);
}

FinishOutcome finish_file(NewFile& file, const NativeString& temp_path,
                          const NativeString& final_path) {
  Outcome closed = file.handle.close();
  if (!closed.ok()) {
    remove_file(temp_path);
    return {closed, true};
  }
  Outcome replaced = replace_file(temp_path, final_path);
  if (!replaced.ok()) remove_file(temp_path);
  return {replaced};
}

void abandon_file(NewFile& file, const NativeString& temp_path) {
  file.handle.close();
  remove_file(temp_path);
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

void prepare_output_streams() {
  // Lines end with "\n" as on every other OS, and names print byte for
  // byte as the archive holds them: the C runtime's text mode would turn
  // each "\n" into "\r\n".
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
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

const char* unusable_name_reason(std::string_view name) {
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) return "the name holds a control character, which Windows does not allow";
    if (c == ':') return "the name holds ':', which Windows takes for a drive or a stream";
    if (std::string_view("<>\"|?*").find(c) != std::string_view::npos) {
      return "the name holds a character that Windows does not allow";
    }
  }
  if (is_device_name(name)) return "the name is a device on Windows";
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return "Windows drops a dot or space at the end of a name";
  }
  return nullptr;
}

}  // namespace kelvarin::platform
