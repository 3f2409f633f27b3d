// A folder on disk as a tree to pack. Every folder is opened relative to
// the one holding it and every file relative to its folder, never through
// a link, and what is opened to be read is checked to be what was scanned:
// a file or folder swapped for another (or for a link) meanwhile is
// refused, not packed.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "platform/files.h"

namespace kelvarin::brq {

class FolderSource final : public FileSource {
 public:
  // `shown` is the folder as typed, the start of every path in messages.
  FolderSource(platform::Folder root, std::string shown);

  // The whole tree below the root, the root's name empty and each folder's
  // entries sorted bytewise by name. What can't be stored so that
  // Kelvarin_Extract gives it back exactly is named in `problems`: a link
  // (not followed, it may lead anywhere), a device, anything that can't be
  // read, a name Kelvarin_Extract refuses, longer than 1,024 bytes or not
  // UTF-8, a file of 2 GiB or more; and with `portable`, a name Windows
  // can't hold, or names in one folder that differ only in case. Each
  // problem names its path.
  SourceNode scan(std::vector<Error>& problems, bool portable);

  // Whether `folder` is the root or a folder below it that was scanned.
  bool holds_folder(const platform::FileIdentity& folder) const;

  Error open(const SourceNode& node, platform::FileHandle& file) override;
  void read_ahead(const SourceNode& node) override;
  std::string path_of(const SourceNode& node) const override;

 private:
  struct Scanned {
    std::size_t folder;  // the folder holding it; the root holds itself
    std::string name;
    platform::FileIdentity identity;
  };
  // The folders open below the root down to the last one a file was
  // opened in: folders[i] is scanned folder ids[i].
  struct Chain {
    std::vector<platform::Folder> folders;
    std::vector<std::size_t> ids;
  };
  std::string folder_path(std::size_t folder) const;
  // Opens the file `node` stands for through `chain`: the folders on the
  // way from the root, each checked to be the one scanned, kept open for
  // the next file.
  Error open_through(Chain& chain, const SourceNode& node, platform::FileHandle& file);

  std::string shown_;
  platform::Folder root_;
  std::vector<Scanned> folders_;  // [0] is the root
  std::vector<Scanned> files_;
  Chain reading_;  // of the file being read
  Chain ahead_;    // of the files asked for ahead of it
  platform::NativeString name_;
};

}  // namespace kelvarin::brq
