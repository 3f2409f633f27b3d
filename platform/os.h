// The operations each OS implements in a file of its own
// (platform_posix.cpp, platform_win32.cpp), beneath the public headers of
// this folder. Only the platform's own files include this one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace kelvarin::platform::os {

// The OS's own words for an error code.
std::string describe_error(int code);

// The FileSystem's operations on the disk itself (see file_system.h).
Error open_destination(std::string_view utf8_path, bool make_parents, Folder& folder);
Error make_folder(const Folder& parent, const NativeString& name, Folder& folder);
// Makes `name` in `parent` and opens it, where nothing holds the name.
Error make_new_folder(const Folder& parent, const NativeString& name, Folder& folder);
bool name_is_free(const Folder& folder, const NativeString& name);
Error folds_case(const Folder& folder, const NativeString& probe, const NativeString& other_case, bool& folds);
Error name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                  const NativeString& to);
Error create_new_file(const Folder& folder, const NativeString& name, FileHandle& file);
Error create_unnamed_file(const Folder& folder, FileHandle& file);
Error link_unnamed_file(const FileHandle& file, const Folder& folder, const NativeString& name);
Error replace_file(const Folder& folder, const NativeString& from, const NativeString& to);
Error remove_file(const Folder& folder, const NativeString& name);
Error write(const FileHandle& file, const void* buffer, std::size_t length);
Error set_position(const FileHandle& file, std::uint64_t position);

// Copies in the kernel what it can, from the start; returns how many bytes
// that was (the caller copies the rest through memory).
std::uint64_t copy_in_kernel(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                             const FileHandle& to, CopyWay way);

// Takes an exclusive advisory lock on `file` at once, or fails with
// Error::is_locked; `held` keeps it until it is closed. On Windows the
// sharing a file or folder is held with is its lock, and `held` stays
// closed.
Error lock(const FileHandle& file, FileHandle& held);
// Opens what `name` in `parent` is and takes its lock at once, into
// `claimed`; fails with Error::is_locked where another process holds it.
// A name that is gone is claimed with `claimed` closed, and so is a link
// or anything else nothing can lock.
Error claim(const Folder& parent, const NativeString& name, FileHandle& claimed);

// Closes `folder` (`name` in `parent`) and removes it, where it is empty.
Error remove_folder(const Folder& parent, const NativeString& name, Folder& folder);

// Before anything is written: signals, standard streams.
void prepare_process();
// The command line as UTF-8 strings, the program's name first.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace kelvarin::platform::os
