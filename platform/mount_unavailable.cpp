// Read-only mounts where the build has no way to make them: on Windows,
// and where FUSE 3 was not found at build time.
#include "platform/mount.h"

namespace kelvarin::platform {

bool can_mount() { return false; }

Error serve_read_only_mount(std::string_view, const ReadOnlyTree&, const MountOptions&, MountEnd&) {
  return Error::because("this build has no mount support");
}

}  // namespace kelvarin::platform
