// Trees on disk that an edit puts into an archive: a folder scanned, or
// files named one by one, each read where it was found and checked to be
// what was found there; and the words of an edit's refusal.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "extract/archive_edit.h"
#include "packing/folder_source.h"

namespace kelvarin {

// Files named on add's command line, each read where it was found and
// checked to be the file found there.
class NamedFiles final : public FileSource {
 public:
  struct Named {
    std::string path;  // as typed, for messages
    platform::FileIdentity identity;
  };

  std::size_t add(Named named) {
    named_.push_back(std::move(named));
    return named_.size() - 1;
  }

  Error open(const SourceNode& node, platform::FileHandle& file) override;
  std::string path_of(const SourceNode& node) const override { return named_[node.disk_file].path; }

 private:
  std::vector<Named> named_;
};

// Whatever a tree put into the archive reads through: a folder scanned or
// the files named. Each SourceNode knows only its number in its own
// source, so each tree is put with its own.
struct DiskTrees {
  std::vector<std::unique_ptr<FolderSource>> folders;
  NamedFiles files;
};

// How a path is scanned: links followed, names Windows can't hold told,
// and what is left out of a folder.
struct DiskScan {
  bool dereference = false;
  bool portable = true;
  std::vector<std::string> excludes;
};

// What a PATH of add or sync's folder is as a tree: a folder scanned, or
// one file. Problems go into `report`; false when nothing can be put.
bool scan_disk(const std::string& disk_path, const std::string& archive_path, const DiskScan& how, DiskTrees& disk,
               SourceNode& tree, FileSource*& source, ScanReport& report);

// A tree from disk to put at `archive_path` (the top for a sync).
struct DiskPut {
  std::string archive_path;
  SourceNode tree;
  FileSource* source = nullptr;
};

// What add's PATHs (below `directory` where it isn't empty) or sync's one
// folder put into the archive, every tree scanned before anything is put,
// so that a name that refuses the edit is found before the first byte is
// read. Problems go into `report`; what can't be read is not in the list.
std::vector<DiskPut> scan_puts(const std::vector<std::string>& paths, const std::string& directory, bool sync,
                               const DiskScan& how, DiskTrees& disk, ScanReport& report);

// Puts the trees into `edit` in turn; the first failure, or refusal (in
// `refusal`), ends it.
Error put_all(ArchiveEdit& edit, std::vector<DiskPut>& puts, std::vector<EditChange>& changes,
              EditRefusal& refusal);

// Why put_all failed, in words: "Unable to change ARCHIVE: cause (file);
// nothing changed".
std::string put_failure_text(const std::string& archive, const Error& error);

// Why an edit is refused, in words ("No entry named x").
std::string refusal_text(const EditRefusal& refusal);

}  // namespace kelvarin
