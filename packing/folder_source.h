// A folder on disk as a tree to pack or to compare. Every folder is opened
// relative to the one holding it and every file relative to its folder,
// never through a link, and what is opened to be read is checked to be
// what was scanned: a file or folder swapped for another (or for a link)
// meanwhile is refused, not read.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_writer.h"
#include "names/entry_selection.h"
#include "platform/files.h"

namespace kelvarin {

struct ScanOptions {
  // Names Windows can't hold, and names in one folder that differ only in
  // case, are told as unportable.
  bool portable = true;
  // A link to a file or folder inside the tree stands for what it leads to;
  // one leading out of the tree, nowhere, or to a folder it lies in (a
  // loop) is left out.
  bool dereference = false;
  // What is left out, silently, with all it holds (its paths are those it
  // has in the archive); null leaves nothing out.
  const SelectionMatcher* excludes = nullptr;
};

// The paths below the root that a scan takes, each with all it holds, as
// a tree of names: a node that is not `whole` stands for a folder on the
// way, of which only its children are taken.
struct ChosenPaths {
  std::string name;
  bool whole = true;
  std::vector<ChosenPaths> children;

  // The tree of `paths` (relative, in entry paths' form after
  // normalise_entry_path; "." or "" the whole root), or an Error naming a
  // path given twice or lying inside another one given.
  static Result<ChosenPaths> of(const std::vector<std::string>& paths);
};

// What the scan found that can't go into an archive as it stands, each
// Error naming its path.
struct ScanReport {
  // Left out, with all it holds: a link (unless followed), a device,
  // anything that can't be read, a name Kelvarin_Extract refuses, longer
  // than 1,024 bytes or not UTF-8, a file of 2 GiB or more.
  std::vector<Error> left_out;
  // Kept in the tree, but told (ScanOptions::portable): a name Windows
  // can't hold, or names in one folder that differ only in case.
  std::vector<Error> unportable;
  // Chosen paths that are not there, or lead through a file.
  std::vector<Error> missing;
};

// The tree a scan found, as the archive writer reads it: the top level is
// the root alone, with an empty name; each folder's entries sorted
// bytewise by name. Held compactly, every name in one pool and each file
// in a few numbers, so that a million files take a few tens of megabytes.
class FolderSource final : public SourceTree, public TreeFiles, public FileSource {
 public:
  // `shown` is the folder as typed, the start of every path in messages.
  FolderSource(platform::Folder root, std::string shown);

  // Scans the `chosen` paths below the root, less what `report` says is
  // left out, into the tree this is. Fails only when the root itself can't
  // be listed, or the names outgrow what the tree can number.
  Error scan(const ScanOptions& options, const ChosenPaths& chosen, ScanReport& report);
  // The whole tree below the root scanned, as SourceNodes: each file's
  // `disk_file` its number here.
  Result<SourceNode> scan(const ScanOptions& options, ScanReport& report);

  // Whether `folder` is the root or a folder below it that was scanned.
  bool holds_folder(const platform::FileIdentity& folder) const;

  std::size_t top_level() const override { return kTopLevel; }
  bool next_child(std::size_t folder, Cursor& cursor, Node& node) const override;
  std::uint64_t file_size(std::size_t file) const override { return files_[file].size; }

  Error open(std::size_t file, platform::FileHandle& handle) override;
  void read_ahead(std::size_t file) override;
  std::string path_of(std::size_t file) const override;
  Error open(const SourceNode& node, platform::FileHandle& file) override { return open(node.disk_file, file); }
  void read_ahead(const SourceNode& node) override { read_ahead(node.disk_file); }
  std::string path_of(const SourceNode& node) const override { return path_of(node.disk_file); }

 private:
  static constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);
  static constexpr std::size_t kTopLevel = kNowhere;

  struct Folder {
    std::uint32_t folder;      // the folder holding it; the root holds itself
    std::uint32_t name;        // in names_
    std::uint32_t first_item;  // its items are items_[first_item, first_item + item_count)
    std::uint32_t item_count;
    std::uint32_t first_file;  // the first of files_ found in it
    platform::FileIdentity identity;
  };
  // What a scanned folder holds, sorted by name.
  enum class Kind : std::uint32_t { file, folder, link, dropped };
  struct Item {
    std::uint32_t name;  // in names_
    Kind kind : 2;
    std::uint32_t id : 30;  // in files_, folders_ or links_: fewer than an archive's entries
  };
  // A file as scanned: what it must still be when it is read.
  struct File {
    std::uint64_t inode;
    std::uint64_t stamp;  // of its device and times: stamp_of
    std::uint32_t size;
    std::uint32_t item;   // in items_, for its name
  };
  // A link to follow: where it stands, and what it leads to once resolved.
  struct Link {
    std::size_t folder;
    std::size_t item;
    platform::FileIdentity target;
    std::size_t to_file;    // in files_, or kNowhere
    std::size_t to_folder;  // in folders_, or kNowhere
  };
  // A folder of the tree stored: the scanned folder whose items it holds,
  // and its own folders, numbered together. A folder reached through a
  // link is one more of these, holding all it holds.
  struct Expansion {
    std::uint32_t folder;
    std::uint32_t holder;  // the expansion holding it, or the root's own number
    std::uint32_t first_below;
  };
  // A subfolder still to scan: its place among the items, and what of it
  // is chosen.
  struct Pending {
    std::size_t item;
    const ChosenPaths* chosen;
  };

  static std::uint64_t stamp_of(const platform::FileIdentity& identity);
  std::string_view name_of(std::uint32_t name) const;
  Error add_name(const std::string& name, std::uint32_t& offset);
  Error scan_folders(const ScanOptions& options, const ChosenPaths& chosen, ScanReport& report);
  Error list_items(const platform::Folder& folder, std::size_t id, const ScanOptions& options,
                   const ChosenPaths& chosen, ScanReport& report, std::vector<Pending>& subfolders);
  void keep_chosen(std::vector<platform::FolderItem>& listing, std::size_t id, const ChosenPaths& chosen,
                   ScanReport& report) const;
  void resolve_links(ScanReport& report);
  void expand_folders(ScanReport& report);
  std::size_t folder_of_file(std::size_t file) const;

  // The folders open below the root down to the last one a file was
  // opened in: folders[i] is scanned folder ids[i].
  struct Chain {
    std::vector<platform::Folder> folders;
    std::vector<std::size_t> ids;
  };

  std::string folder_path(std::size_t folder) const;
  // The folder's path inside the archive ("" for the root).
  std::string archive_path(std::size_t folder) const;
  // Opens `file` through `chain`: the folders on the way from the root,
  // each checked to be the one scanned, kept open for the next file.
  Error open_through(Chain& chain, std::size_t file, platform::FileHandle& handle, platform::FileIdentity& identity);

  std::string shown_;
  platform::Folder root_;
  std::string names_;              // every name, one after the other
  std::vector<Folder> folders_;    // [0] is the root
  std::vector<Item> items_;        // by folder
  std::vector<File> files_;
  std::vector<Link> links_;
  std::vector<Expansion> expansions_;  // [0] is the root's
  Chain reading_;  // of the file being read
  Chain ahead_;    // of the files asked for ahead of it
  // The files asked for ahead, opened and kept open until they are read:
  // by their number in files_, what was opened and what it was then.
  struct Ahead {
    std::size_t file;
    platform::FileHandle handle;
    Error error;
    platform::FileIdentity identity;
  };
  std::deque<Ahead> opened_ahead_;
  // How many may be held at once: fewer once the OS has run out of handles.
  std::size_t ahead_limit_ = static_cast<std::size_t>(-1);
  platform::NativeString name_;
};

}  // namespace kelvarin
