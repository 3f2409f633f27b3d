// Everything that makes, names, changes or removes something on disk, behind
// one interface. The program uses os_file_system(); a test wraps it in a
// FileSystemWrapper and overrides the one call it wants to fail (a rename,
// a link, a close), the rest going through to the disk.
//
// Output goes through open folders: a file or folder is made, named and
// removed relative to the folder that holds it, never by a path resolved
// from the top again, so that nothing swapped in on the way can send it
// elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace kelvarin::platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens the folder the user named as a destination, making it first
  // where it is missing: one level, its parent must exist, or with
  // `make_parents` every missing folder on the way, as mkdir -p. A link
  // there is followed: it is the user's own choice.
  virtual Error open_destination(std::string_view utf8_path, bool make_parents, Folder& folder);

  // Makes `name` in `parent` where missing and opens it; one that is there
  // already is opened if it is a real folder. A link is refused, never
  // followed.
  virtual Error make_folder(const Folder& parent, const NativeString& name, Folder& folder);

  // Makes `name` in `parent` as a new, empty folder of this run's own and
  // opens it, its lock in folder.lock. A killed run's leftover under the
  // name is removed first (remove_leftover): it is only called on a
  // temporary name. Fails with Error::is_locked where a live run holds it.
  virtual Error make_fresh_folder(const Folder& parent, const NativeString& name, Folder& folder);

  // Whether nothing at all holds `name` in `folder` (not even a dangling link).
  virtual bool name_is_free(const Folder& folder, const NativeString& name);

  // Whether `folder` takes names that differ only in case for one name:
  // always on Windows; elsewhere asked of the folder itself, as a file
  // system may ignore case under any OS. `probe` is made there, looked up
  // as `other_case` (the same name in other letters' case), and removed:
  // it must be a name nothing else uses.
  virtual Error folds_case(const Folder& folder, const NativeString& probe, const NativeString& other_case,
                           bool& folds);

  // Closes `folder` (named `from` in `parent`) and renames it to `to`
  // there, where that name is still free; at most an empty folder is
  // replaced where the OS has no way to refuse.
  virtual Error name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                            const NativeString& to);

  // Removes `name` in `parent` and, if it is a folder, everything in it.
  // Nothing is followed: each folder is opened relative to the one holding
  // it, without following a link, and held while what it holds is removed
  // through it, so a folder swapped for a link half-way leads nowhere;
  // links are removed as names.
  virtual Error remove_tree(const Folder& parent, const NativeString& name);

  // Removes what a killed run left under the temporary name `name` in
  // `parent`, unless a run that lives still holds it (see lock): then it
  // fails with Error::is_locked and touches nothing.
  virtual Error remove_leftover(const Folder& parent, const NativeString& name);

  // Takes the lock that tells a live run's own temporary file or folder
  // from a killed run's leftover, held until `held` is closed: an advisory
  // lock (flock) on POSIX; on Windows the handle's sharing is the lock.
  virtual Error lock(const FileHandle& file, FileHandle& held);

  // Creates `name` in `folder` as a new, empty file for writing where
  // nothing holds the name; otherwise fails with Error::is_name_taken.
  virtual Error create_new_file(const Folder& folder, const NativeString& name, FileHandle& file);

  // An unnamed new file in `folder`, or a failure where the OS or the file
  // system can't make one (a temporary name is used then).
  virtual Error create_unnamed_file(const Folder& folder, FileHandle& file);

  // Gives an unnamed file `name` in `folder`; fails with
  // Error::is_name_taken where that name is held.
  virtual Error link_unnamed_file(const FileHandle& file, const Folder& folder,
                                  const NativeString& name);

  // Renames `from` over `to` in `folder`, replacing a file of that name.
  virtual Error replace_file(const Folder& folder, const NativeString& from, const NativeString& to);

  virtual Error remove_file(const Folder& folder, const NativeString& name);

  // Writes all `length` bytes at the handle's position, or fails.
  virtual Error write(const FileHandle& file, const void* buffer, std::size_t length);
  // Moves the handle's position, so that bytes already written are
  // written again.
  virtual Error set_position(const FileHandle& file, std::uint64_t position);

  // Copies `length` bytes from `position` in `from` to the position of
  // `to`: in the kernel where the OS can, else through `buffer`, which is
  // grown to kCopyChunk once and reused. A source that ends too soon is a
  // failed read. With CopyWay::share_blocks, between two files of one file
  // system that shares blocks (XFS, btrfs), whole blocks at the same offset
  // within a block on both sides are shared instead of copied.
  // CopyWay::share_blocks_of_replaced does the same and drops what the OS
  // caches of the source behind the copy: where the blocks are copied, the
  // new file's pages then reuse the old file's, and the copy needs no more
  // memory than a piece of it, not a second archive's worth.
  virtual Error copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                           const FileHandle& to, std::vector<char>& buffer, CopyWay way = CopyWay::stream);

  // Closes a file written through this interface; a failure there is a
  // failed write.
  virtual Error close(FileHandle& file);
};

// The disk itself.
FileSystem& os_file_system();

// Forwards every call to another FileSystem: a test overrides the calls it
// wants to change.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}

  Error open_destination(std::string_view utf8_path, bool make_parents, Folder& folder) override {
    return target_.open_destination(utf8_path, make_parents, folder);
  }
  Error make_folder(const Folder& parent, const NativeString& name, Folder& folder) override {
    return target_.make_folder(parent, name, folder);
  }
  Error make_fresh_folder(const Folder& parent, const NativeString& name, Folder& folder) override {
    return target_.make_fresh_folder(parent, name, folder);
  }
  bool name_is_free(const Folder& folder, const NativeString& name) override {
    return target_.name_is_free(folder, name);
  }
  Error folds_case(const Folder& folder, const NativeString& probe, const NativeString& other_case,
                   bool& folds) override {
    return target_.folds_case(folder, probe, other_case, folds);
  }
  Error name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                    const NativeString& to) override {
    return target_.name_folder(parent, folder, from, to);
  }
  Error remove_tree(const Folder& parent, const NativeString& name) override {
    return target_.remove_tree(parent, name);
  }
  Error remove_leftover(const Folder& parent, const NativeString& name) override {
    return target_.remove_leftover(parent, name);
  }
  Error lock(const FileHandle& file, FileHandle& held) override { return target_.lock(file, held); }
  Error create_new_file(const Folder& folder, const NativeString& name, FileHandle& file) override {
    return target_.create_new_file(folder, name, file);
  }
  Error create_unnamed_file(const Folder& folder, FileHandle& file) override {
    return target_.create_unnamed_file(folder, file);
  }
  Error link_unnamed_file(const FileHandle& file, const Folder& folder, const NativeString& name) override {
    return target_.link_unnamed_file(file, folder, name);
  }
  Error replace_file(const Folder& folder, const NativeString& from, const NativeString& to) override {
    return target_.replace_file(folder, from, to);
  }
  Error remove_file(const Folder& folder, const NativeString& name) override {
    return target_.remove_file(folder, name);
  }
  Error write(const FileHandle& file, const void* buffer, std::size_t length) override {
    return target_.write(file, buffer, length);
  }
  Error set_position(const FileHandle& file, std::uint64_t position) override {
    return target_.set_position(file, position);
  }
  Error copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                   const FileHandle& to, std::vector<char>& buffer, CopyWay way = CopyWay::stream) override {
    return target_.copy_range(from, position, length, to, buffer, way);
  }
  Error close(FileHandle& file) override { return target_.close(file); }

 private:
  FileSystem& target_;
};

// A file being written that takes its final name only once complete, so
// that a failed or killed write never shows under that name nor touches
// what held it. Where the OS can (Linux, most local file systems) it has no
// name at all until then, so a killed run leaves nothing behind; elsewhere
// it is written under a temporary name of the caller's, in the same folder.
class NewFile {
 public:
  explicit NewFile(FileSystem& files) : files_(files) {}

  // Starts a new, empty file in `folder`; a killed run's leftover under
  // `temp_name` is removed first, never written into, and a live run's
  // fails it (Error::is_locked).
  Error begin(const Folder& folder, const NativeString& temp_name);

  const FileHandle& handle() const { return handle_; }

  // Closes the file and gives it `final_name`, replacing what held that
  // name (a file, a link of either kind) in one step, never writing into
  // it. A failure while closing is a failed write (Step::write); either
  // way nothing is left under either name, and what held the final name is
  // untouched.
  Error finish(const Folder& folder, const NativeString& temp_name, const NativeString& final_name);

  // Closes and drops a file that failed.
  void abandon(const Folder& folder, const NativeString& temp_name);

 private:
  // Locks the file and checks that `name` in `folder` still leads to it.
  Error own(const Folder& folder, const NativeString& name);

  FileSystem& files_;
  FileHandle handle_;
  FileHandle lock_;     // while the file has the temporary name
  bool named_ = false;  // written under the temporary name
};

}  // namespace kelvarin::platform
