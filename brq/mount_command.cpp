// brq mount: the archive's tree as a read-only file system, served from
// the archive itself until it is unmounted.
#include <new>

#include "brq/commands.h"
#include "brq/mount_tree.h"
#include "extract/report.h"

namespace kelvarin::brq {

int mount_archive(const std::string& archive, const std::string& mountpoint, bool foreground,
                  const Streams& streams) {
  if (!platform::can_mount()) {
    print(streams.err, error_line("this brq was built without mount support"));
    return kStatusUnusable;
  }
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  try {
    const MountTree tree(index.value());
    print(streams.err, tree.refusals());
    std::fflush(streams.err);
    platform::MountEnd end = platform::MountEnd::unmounted;
    const Error served = platform::serve_read_only_mount(
        mountpoint, tree, {foreground, archive, &index.value().archive()}, end);
    if (!served.ok()) {
      print(streams.err,
            error_line("Unable to mount " + archive + " on " + mountpoint + ": " + served.cause()));
      return kStatusUnusable;
    }
    return tree.refusals().empty() ? kStatusSuccess : kStatusEntriesFailed;
  } catch (const std::bad_alloc&) {
    print(streams.err, error_line("Unable to allocate memory for the tree of " + archive));
    return kStatusUnusable;
  }
}

}  // namespace kelvarin::brq
