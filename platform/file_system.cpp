// What is built on each OS's operations alike everywhere: the disk's
// FileSystem, the removal of a tree, the copy loop, reading a range in
// chunks, and a new file's way to its name.
#include "platform/file_system.h"

#include <algorithm>

#include "platform/os.h"

namespace kelvarin::platform {

Error read_range(const FileHandle& file, std::uint64_t position, std::uint64_t length,
                 std::vector<char>& buffer,
                 const std::function<Error(const char* bytes, std::size_t length)>& take) {
  return read_range(
      [&file](std::uint64_t at, void* into, std::size_t count, std::size_t& got) {
        return read_at(file, at, into, count, got);
      },
      position, length, buffer, take);
}

Error read_range(const ReadAt& read, std::uint64_t position, std::uint64_t length, std::vector<char>& buffer,
                 const std::function<Error(const char* bytes, std::size_t length)>& take) {
  if (length > 0 && buffer.size() < kCopyChunk) buffer.resize(kCopyChunk);
  for (std::uint64_t done = 0; done < length;) {
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kCopyChunk));
    std::size_t got = 0;
    Error failure = read(position + done, buffer.data(), chunk, got);
    if (!failure.ok()) return failure.during(Error::Step::read);
    // What was there is handed on before the failure.
    Error taken = got > 0 ? take(buffer.data(), got) : Error{};
    if (!taken.ok()) return taken;
    if (got < chunk) {
      return Error::found(Error::Kind::ended_early, Error::Finding::file_ends_early, Error::Step::read);
    }
    done += chunk;
  }
  return {};
}

Error FileSystem::open_destination(std::string_view utf8_path, bool make_parents, Folder& folder) {
  return os::open_destination(utf8_path, make_parents, folder);
}

Error FileSystem::make_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  return os::make_folder(parent, name, folder);
}

namespace {

// A run that took what was just made for a leftover, between its making
// and its locking, has removed it: the name leads elsewhere now.
Error still_named(const Folder& parent, const NativeString& name, const FileHandle& made) {
  FileIdentity ours, named;
  if (identify(made, ours).ok() && identify_in(parent, name, named).ok() && ours.same_object(named)) return {};
  return Error::found(Error::Kind::locked, Error::Finding::another_run_took_name, Error::Step::create);
}

}  // namespace

Error FileSystem::make_fresh_folder(const Folder& parent, const NativeString& name, Folder& folder) {
  Error made = os::make_new_folder(parent, name, folder);
  if (made.is_name_taken()) {
    made = remove_leftover(parent, name);
    if (made.ok()) made = os::make_new_folder(parent, name, folder);
  }
  if (!made.ok()) return made;
  made = lock(folder.handle, folder.lock);
  // Where the handle's sharing is the lock, it was had with the folder.
  if (made.ok() && folder.lock.is_open()) made = still_named(parent, name, folder.handle);
  if (!made.ok()) {
    folder.lock.close();
    folder.handle.close();
    // Made and not locked, it is removed again; a name another run took
    // meanwhile is theirs.
    if (!made.is_locked()) remove_tree(parent, name);
  }
  return made;
}

bool FileSystem::name_is_free(const Folder& folder, const NativeString& name) {
  return os::name_is_free(folder, name);
}

Error FileSystem::folds_case(const Folder& folder, const NativeString& probe, const NativeString& other_case,
                             bool& folds) {
  return os::folds_case(folder, probe, other_case, folds);
}

Error FileSystem::name_folder(const Folder& parent, Folder& folder, const NativeString& from,
                              const NativeString& to) {
  return os::name_folder(parent, folder, from, to);
}

Error FileSystem::remove_tree(const Folder& parent, const NativeString& name) {
  FileIdentity what;
  Error looked = identify_in(parent, name, what);
  if (!looked.ok()) return looked.is_not_found() ? Error{} : looked.during(Error::Step::remove);
  if (!what.is_folder) return os::remove_file(parent, name);
  // The folders from `name` down to the one being cleared, each with the
  // names of its folders still to clear. Listed and cleared twice, yet not
  // removable, a folder is given up rather than listed forever.
  struct Level {
    Folder folder;
    NativeString name;
    std::vector<NativeString> subfolders;
    int listings = 0;
  };
  std::vector<Level> levels(1);
  levels[0].name = name;
  std::vector<FolderItem> items;
  NativeString item_name;
  while (!levels.empty()) {
    Level& level = levels.back();
    const Folder& holder = levels.size() > 1 ? levels[levels.size() - 2].folder : parent;
    if (!level.subfolders.empty()) {
      Level next;
      next.name = std::move(level.subfolders.back());
      level.subfolders.pop_back();
      levels.push_back(std::move(next));
      continue;
    }
    if (level.listings > 0) {
      Error removed = os::remove_folder(holder, level.name, level.folder);
      if (removed.ok() || removed.is_not_found()) {
        levels.pop_back();
        continue;
      }
      if (!removed.is_not_empty() || level.listings == 2) return removed.during(Error::Step::remove);
    }
    if (!open_subfolder(holder, level.name, level.folder).ok()) {
      // No longer a folder (a link put there meanwhile): removed as a name.
      Error removed = os::remove_file(holder, level.name);
      if (!removed.ok() && !removed.is_not_found()) return removed;
      levels.pop_back();
      continue;
    }
    ++level.listings;
    Error listed = list_folder(level.folder, items);
    if (!listed.ok()) return listed.during(Error::Step::remove);
    for (const FolderItem& item : items) {
      native_name(item.name, item_name);
      if (item.kind == FolderItem::Kind::folder) {
        level.subfolders.push_back(item_name);
        continue;
      }
      Error removed = os::remove_file(level.folder, item_name);
      if (!removed.ok() && !removed.is_not_found()) return removed;
    }
  }
  return {};
}

Error FileSystem::remove_leftover(const Folder& parent, const NativeString& name) {
  // Claimed, it stays locked while it is removed.
  FileHandle claimed;
  Error error = os::claim(parent, name, claimed);
  if (error.is_locked()) {
    return Error::found(Error::Kind::locked, Error::Finding::another_run_writing, error.step());
  }
  if (!error.ok()) return error.during(Error::Step::remove);
  return remove_tree(parent, name);
}

Error FileSystem::lock(const FileHandle& file, FileHandle& held) { return os::lock(file, held); }

Error FileSystem::create_new_file(const Folder& folder, const NativeString& name, FileHandle& file) {
  return os::create_new_file(folder, name, file);
}

Error FileSystem::create_unnamed_file(const Folder& folder, FileHandle& file) {
  return os::create_unnamed_file(folder, file);
}

Error FileSystem::link_unnamed_file(const FileHandle& file, const Folder& folder,
                                    const NativeString& name) {
  return os::link_unnamed_file(file, folder, name);
}

Error FileSystem::replace_file(const Folder& folder, const NativeString& from, const NativeString& to) {
  return os::replace_file(folder, from, to);
}

Error FileSystem::remove_file(const Folder& folder, const NativeString& name) {
  return os::remove_file(folder, name);
}

Error FileSystem::write(const FileHandle& file, const void* buffer, std::size_t length) {
  return os::write(file, buffer, length);
}

Error FileSystem::set_position(const FileHandle& file, std::uint64_t position) {
  return os::set_position(file, position);
}

Error FileSystem::copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                             const FileHandle& to, std::vector<char>& buffer, CopyWay way) {
  const std::uint64_t done = os::copy_in_kernel(from, position, length, to, way);
  Error copied = read_range(from, position + done, length - done, buffer,
                            [&](const char* bytes, std::size_t chunk) {
                              return write(to, bytes, chunk).during(Error::Step::write);
                            });
  // What is copied from is an archive.
  if (copied.is_ended_early()) {
    return Error::found(Error::Kind::ended_early, Error::Finding::archive_ends_early, Error::Step::read);
  }
  return copied;
}

Error FileSystem::close(FileHandle& file) { return file.close(); }

FileSystem& os_file_system() {
  static FileSystem disk;
  return disk;
}

Error NewFile::begin(const Folder& folder, const NativeString& temp_name) {
  // One insertion into the folder at the end, where a temporary name costs
  // an insertion, a removal and a second lookup in the rename.
  named_ = false;
  if (files_.create_unnamed_file(folder, handle_).ok()) return {};
  // Whatever kept it unnamed, the named way reports in its own words.
  named_ = true;
  Error created = files_.create_new_file(folder, temp_name, handle_);
  if (created.is_name_taken()) {
    // Never opened when it exists: a hard link of that name would take the
    // bytes into a file elsewhere. A killed run's leftover goes first.
    created = files_.remove_leftover(folder, temp_name);
    if (created.ok()) created = files_.create_new_file(folder, temp_name, handle_);
  }
  if (created.ok()) {
    created = own(folder, temp_name);
    // Made and not locked, it is removed again; a name another run took
    // meanwhile is theirs.
    if (!created.ok() && !created.is_locked()) {
      handle_.close();
      files_.remove_file(folder, temp_name);
    }
  }
  if (!created.ok()) handle_.close();
  return created.during(Error::Step::create);
}

Error NewFile::own(const Folder& folder, const NativeString& name) {
  Error owned = files_.lock(handle_, lock_);
  // Where the handle's sharing is the lock, it was had with the file.
  if (owned.ok() && lock_.is_open()) owned = still_named(folder, name, handle_);
  if (!owned.ok()) lock_.close();
  return owned;
}

Error NewFile::finish(const Folder& folder, const NativeString& temp_name,
                      const NativeString& final_name) {
  if (!named_) {
    // Linking never replaces nor follows what holds the name: a free name
    // is taken directly, a taken one goes through the temporary name and
    // a rename that replaces it in one step.
    Error linked = files_.link_unnamed_file(handle_, folder, final_name);
    if (linked.ok()) {
      Error closed = files_.close(handle_);
      if (closed.ok()) return {};
      // The name was free: removing it again loses nothing of anyone's.
      files_.remove_file(folder, final_name);
      return closed;
    }
    if (linked.is_name_taken()) {
      // Locked first, the file is this run's own the moment it has the
      // temporary name, which is free unless a killed run left it (or
      // someone put a link there): only then is it removed and tried again.
      linked = files_.lock(handle_, lock_);
      if (linked.ok()) linked = files_.link_unnamed_file(handle_, folder, temp_name);
      if (linked.is_name_taken()) {
        linked = files_.remove_leftover(folder, temp_name);
        if (linked.ok()) linked = files_.link_unnamed_file(handle_, folder, temp_name);
      }
    }
    if (!linked.ok()) {
      handle_.close();
      lock_.close();
      return linked.during(Error::Step::create);
    }
    named_ = true;
  }
  // Closed first, so that a write the OS reports only now fails the file
  // before it replaces anything; the lock stays until the rename is done.
  Error error = files_.close(handle_);
  if (error.ok()) {
    error = files_.replace_file(folder, temp_name, final_name).during(Error::Step::create);
  }
  if (!error.ok()) files_.remove_file(folder, temp_name);
  lock_.close();
  return error;
}

void NewFile::abandon(const Folder& folder, const NativeString& temp_name) {
  handle_.close();
  if (named_) files_.remove_file(folder, temp_name);
  lock_.close();
}

}  // namespace kelvarin::platform
