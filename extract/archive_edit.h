// Changing an archive without rebuilding it. The tree its extraction would
// leave is loaded with each file's data where they lie in the archive;
// removals, moves and trees from disk change that tree; and the result is
// written as a new archive in which the data of unchanged files keep their
// places, shifted by whole blocks, so that the kernel copies them (or, on a
// file system that shares blocks, clones them) in one range, and new data
// go after them. The new archive takes the old one's name in one step, so
// a reader of the old one goes on reading it and a killed edit leaves
// either archive whole. Facts only: the front ends word them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"
#include "archive/archive_writer.h"
#include "extract/extraction_plan.h"
#include "names/entry_selection.h"
#include "platform/file_system.h"

namespace kelvarin {

// One change to the tree, in tree order.
struct EditChange {
  enum class Kind : std::uint8_t { added, removed, changed, moved };
  Kind kind = Kind::added;
  std::string path;
  std::string to;          // moved: the new path
  bool is_folder = false;  // added or removed: a folder, with all it holds
  std::uint64_t entries = 0;  // what such a folder holds, all the way down
};

// Why an edit is refused, with nothing changed.
struct EditRefusal {
  enum class Kind : std::uint8_t {
    none,
    not_found,      // `path` names no entry
    is_root,        // `path` is the top of the tree, which can't move
    name_taken,     // an entry holds `path` already
    not_a_folder,   // a file stands at `path`, on the way to where it should go
    into_itself,    // a folder moved below itself
    bad_name,       // a name no extraction takes: `name_problem` says why
    name_too_long,  // a name longer than kMaxStoredName bytes
    not_utf8,       // a name that is not UTF-8
    unportable,     // a name Windows can't hold: `name_problem` says why
    case_twin,      // `path` differs only in case from `other`, in one folder
    too_deep,       // a folder would lie inside more than kMaxFolderDepth folders: `other` is the deepest
    path_too_long,  // a path would be longer than kMaxPathBytes: `other` is the longest
  };
  Kind kind = Kind::none;
  std::string path;
  std::string other;
  NameProblem name_problem = NameProblem::none;

  bool refused() const { return kind != Kind::none; }
};

// The longest name stored, as brq pack stores them.
inline constexpr std::size_t kMaxStoredName = 1024;

// A folder or file of the tree being edited: a file's data lie in the old
// archive at `position`, or in the file on disk `disk` stands for.
struct EditNode {
  bool is_folder = false;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  const SourceNode* disk = nullptr;
  FileSource* source = nullptr;
  std::map<std::string, std::unique_ptr<EditNode>> children;  // bytewise order
};

// The archive an edit replaces, held so that no other edit changes it
// meanwhile: its folder, its name there, and the lock.
struct EditTarget {
  platform::Folder folder;
  std::string name;
  platform::FileHandle lock;
};

// Takes `index`'s archive for an edit: an exclusive lock on the open file
// (Error::is_locked where another edit holds it), then checks that its
// path still names that file; `replaced` is set, and nothing held, where
// another edit put a new archive there between the opening and the lock:
// the caller opens it again.
Error take_for_edit(const ArchiveIndex& index, EditTarget& target, bool& replaced);

class ArchiveEdit {
 public:
  using LeftOut = std::function<void(const ArchiveIndex&, const EntryVisit&, const PlannedEntry&)>;

  // The tree `index`'s extraction would leave, names taken exactly, as
  // extracted_tree makes it. Each entry the extraction leaves out is handed
  // to `left_out` and is not in the tree. Fails only when memory runs out.
  static Result<ArchiveEdit> load(ArchiveIndex index, const LeftOut& left_out);

  // Whether names Windows can't hold, and names that differ only in case
  // within a folder, are refused in what the edit adds (the default).
  void set_portable(bool portable) { portable_ = portable; }

  // Removes what `request`'s paths name, each folder with all it holds; the
  // numbers of the paths that name nothing go into `missing`.
  void remove(const SelectionRequest& request, std::vector<EditChange>& changes, std::vector<std::size_t>& missing);

  // Moves the entry at `from` to `to`, making the folders missing on the
  // way; refused, with nothing changed, where `to` is taken or can't be.
  EditRefusal move(std::string_view from, std::string_view to, std::vector<EditChange>& changes);

  // Makes the entry at `path` exactly `tree` (a folder with all it holds,
  // or a file), making the folders missing on the way: what only the
  // archive holds there is removed, what only `tree` holds added, and a
  // file in both replaced where its size or bytes differ (its old data
  // kept where they are the same). Files' bytes are read through `files`,
  // which must outlive the edit. Fails when a file can't be read to be
  // compared; refused, with nothing changed, as `move` is.
  Error put(std::string_view path, SourceNode tree, FileSource& files, std::vector<EditChange>& changes,
            EditRefusal& refusal);

  // Writes the edited archive beside the old one under `temp_name` (or
  // unnamed where the OS can) and puts it in place of the target's name in
  // one step. `progress` is told of the bytes as they are written.
  Error write(platform::FileSystem& disk, const EditTarget& target, const platform::NativeString& temp_name,
              const std::function<void(std::uint64_t)>& progress = {});

  // What `write` will write: the new archive's size.
  Result<std::uint64_t> planned_size() const;

  const ArchiveIndex& index() const { return index_; }

 private:
  explicit ArchiveEdit(ArchiveIndex index) : index_(std::move(index)) {}

  // Where the folders on the way to `path` are, or would be made: the
  // deepest that exists, and the names below it still to make.
  EditRefusal walk_to(const std::vector<std::string>& names, const EditNode* moving, EditNode*& deepest,
                      std::size_t& made_from);
  // Whether what `names` is to hold (`tree`, an EditNode or a SourceNode)
  // stays within the depth and path length every extraction takes.
  template <typename Node>
  static EditRefusal check_reach(const std::vector<std::string>& names, const Node& tree);
  EditRefusal check_new_name(const EditNode& folder, const std::string& name, const std::string& path,
                             bool is_file, const EditNode* moving) const;
  Error merge(std::unique_ptr<EditNode>& existing, const SourceNode& incoming, FileSource& files,
              const std::string& path, std::vector<EditChange>& changes);

  ArchiveIndex index_;
  EditNode root_;
  bool portable_ = true;
  std::deque<SourceNode> disk_trees_;  // the trees put, which EditNode::disk points into
};

}  // namespace kelvarin
