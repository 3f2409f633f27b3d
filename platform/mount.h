// Read-only mounts: a tree of folders and files shown as a file system.
// Served through FUSE 3 on Linux where it was found at build time
// (fuse_mount_linux.cpp); elsewhere the build has none (mount_unavailable.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace kelvarin::platform {

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

}  // namespace kelvarin::platform
