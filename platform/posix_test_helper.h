// Test-only helpers of the POSIX platform layer: handles the program itself
// never makes, so that tests can drive paths it takes only on some machines.
// Implemented in platform_posix.cpp; not part of the cross-OS interface.
#pragma once

#include "platform/files.h"

namespace kelvarin::platform {

// Creates an empty file `name` in `folder` (replacing one of that name)
// open for appending. copy_file_range refuses to write into such a file, so
// copy_range into it takes the loop through memory, as on a kernel or file
// system without the in-kernel copy.
Error create_file_for_append(const Folder& folder, const NativeString& name, FileHandle& file);

}  // namespace kelvarin::platform
