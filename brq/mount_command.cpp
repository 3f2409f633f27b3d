// brq mount: the archive's tree as a read-only file system, served from
// the archive itself until it is unmounted.
#include <new>

#include "brq/commands.h"
#include "brq/mount_tree.h"

namespace kelvarin::brq {

int mount_archive(const std::string& archive, const std::string& mountpoint, bool foreground,
                  const Streams& streams) {
  if (!platform::can_mount()) {
    print(streams.err, error_line("this brq was built without mount support"));
    return kStatusUnusable;
  }
  // A second mount would hide the first, not replace it: unmounting one
  // would then show the other again.
  bool mounted = false;
  if (platform::is_mount_point(mountpoint, mounted).ok() && mounted) {
    print(streams.err, error_line("Unable to mount at " + mountpoint + ": something is mounted there already"));
    return kStatusUnusable;
  }
  Result<ArchiveIndex> index = open_index(archive, streams);
  if (!index.ok()) return kStatusUnusable;
  // The mount tells case apart, as Linux's file systems do.
  Result<ExtractionPlan> plan = make_plan(index.value(), nullptr, CaseRule::exact(), streams);
  if (!plan.ok()) return kStatusUnusable;
  try {
    // What is left out is said as it is found, never held.
    bool left_out = false;
    const MountTree tree(index.value(), plan.value(), [&](const std::string& line) {
      print(streams.err, line);
      left_out = true;
    });
    std::fflush(streams.err);
    platform::MountEnd end = platform::MountEnd::unmounted;
    const Error served = platform::serve_read_only_mount(
        mountpoint, tree, {foreground, archive, &index.value().archive()}, end);
    if (!served.ok()) {
      print(streams.err, error_line("Unable to mount " + archive + " on " + mountpoint + ": " + cause_of(served)));
      return kStatusUnusable;
    }
    return left_out ? kStatusEntriesFailed : kStatusSuccess;
  } catch (const std::bad_alloc&) {
    print(streams.err, error_line("Unable to allocate memory for the tree of " + archive));
    return kStatusUnusable;
  }
}

}  // namespace kelvarin::brq
