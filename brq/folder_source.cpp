// Scanning a folder for brq pack, and opening its files again to read them.
#include "brq/folder_source.h"

#include <algorithm>
#include <limits>

#include "messages/entry_messages.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "names/utf8.h"

namespace kelvarin::brq {
namespace {

constexpr const char* kStoreAllTheSame = " (--allow-unportable stores it all the same)";

// Names that differ only in case are one name on Windows: extracted there,
// the later file would replace the earlier. ASCII letters only, like the
// matching of paths.
void refuse_case_twins(const SourceNode& folder, const std::string& path, std::vector<Error>& problems) {
  std::vector<std::pair<std::string, const std::string*>> folded;
  folded.reserve(folder.children.size());
  for (const SourceNode& child : folder.children) folded.emplace_back(fold_case(child.name), &child.name);
  std::sort(folded.begin(), folded.end());
  for (std::size_t i = 1; i < folded.size(); ++i) {
    if (folded[i].first != folded[i - 1].first) continue;
    problems.push_back(Error::because("differs only in case from " + *folded[i - 1].second +
                                      ", which Windows takes for the same name" + kStoreAllTheSame)
                           .on(path + "/" + *folded[i].second));
  }
}

}  // namespace

FolderSource::FolderSource(platform::Folder root, std::string shown)
    : shown_(std::move(shown)), root_(std::move(root)) {
  platform::FileIdentity identity;
  platform::identify(root_.handle, identity);
  folders_.push_back({0, "", identity});
}

SourceNode FolderSource::scan(std::vector<Error>& problems, bool portable) {
  // A folder being scanned, held open while the folders below it are: the
  // depth of the tree bounds the handles open at once.
  struct Level {
    platform::Folder folder;  // unused for the root, which root_ is
    std::size_t id;
    std::vector<SourceNode*> subfolders;  // still to scan
  };
  SourceNode root = source_folder("");
  std::vector<Level> levels;
  auto scan_folder = [&](const platform::Folder& folder, std::size_t id, SourceNode& node,
                         std::vector<SourceNode*>& subfolders) {
    std::vector<platform::FolderItem> items;
    Error listed = platform::list_folder(folder, items);
    if (!listed.ok()) problems.push_back(listed.on(folder_path(id)));
    for (const platform::FolderItem& item : items) {
      auto refuse = [&](const std::string& why) {
        problems.push_back(Error::because(why).on(folder_path(id) + "/" + item.name));
      };
      SourceNode child;
      child.name = item.name;
      // Refused, but still scanned: every problem is named at once.
      const NameProblem unsafe = name_problem(item.name, item.kind != platform::FolderItem::Kind::folder);
      const NameProblem unportable = portable ? windows_name_problem(item.name) : NameProblem::none;
      if (unsafe != NameProblem::none) {
        refuse(std::string(describe(unsafe)) + ", so Kelvarin_Extract would refuse it");
      } else if (item.name.size() > kMaxNameBytes) {
        refuse("the name is longer than " + std::to_string(kMaxNameBytes) + " bytes");
      } else if (!is_utf8(item.name)) {
        refuse("the name is not UTF-8 text, which archive names are");
      } else if (unportable != NameProblem::none) {
        refuse(std::string(describe(unportable)) + kStoreAllTheSame);
      }
      if (item.kind == platform::FolderItem::Kind::link) {
        refuse("is a link, which an archive can't hold");
        continue;
      }
      if (item.kind == platform::FolderItem::Kind::other) {
        refuse("is neither a folder nor a regular file");
        continue;
      }
      child.is_folder = item.kind == platform::FolderItem::Kind::folder;
      if (!child.is_folder) {
        Scanned file{id, item.name, {}};
        platform::native_name(item.name, name_);
        Error looked = platform::identify_in(folder, name_, file.identity);
        if (!looked.ok() || !file.identity.is_regular) {
          refuse(looked.ok() ? "is neither a folder nor a regular file" : looked.cause());
          continue;
        }
        child.disk_file = files_.size();
        child.size = file.identity.size;
        if (child.size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
          refuse("the file has " + std::to_string(child.size) +
                 " bytes; an archive holds files below 2 GiB (2147483648 bytes)");
        }
        files_.push_back(std::move(file));
      }
      node.children.push_back(std::move(child));
    }
    std::sort(node.children.begin(), node.children.end(),
              [](const SourceNode& a, const SourceNode& b) { return a.name < b.name; });
    if (portable) refuse_case_twins(node, folder_path(id), problems);
    // The children are final now: their addresses stay put while the scan
    // goes below them.
    for (SourceNode& child : node.children) {
      if (child.is_folder) subfolders.push_back(&child);
    }
  };

  levels.push_back({{}, 0, {}});
  scan_folder(root_, 0, root, levels.back().subfolders);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.subfolders.empty()) {
      levels.pop_back();
      continue;
    }
    SourceNode& child = *level.subfolders.back();
    level.subfolders.pop_back();
    const platform::Folder& parent = levels.size() == 1 ? root_ : level.folder;
    Level next{{}, folders_.size(), {}};
    platform::FileIdentity identity;
    platform::native_name(child.name, name_);
    Error opened = platform::open_subfolder(parent, name_, next.folder);
    if (opened.ok()) opened = platform::identify(next.folder.handle, identity);
    if (!opened.ok()) {
      problems.push_back(opened.on(folder_path(level.id) + "/" + child.name));
      continue;
    }
    folders_.push_back({level.id, child.name, identity});
    scan_folder(next.folder, next.id, child, next.subfolders);
    levels.push_back(std::move(next));
  }
  return root;
}

bool FolderSource::holds_folder(const platform::FileIdentity& folder) const {
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const Scanned& scanned) { return scanned.identity.same_object(folder); });
}

Error FolderSource::open(const SourceNode& node, platform::FileHandle& file) {
  const Scanned& scanned = files_[node.disk_file];
  Error error = open_through(reading_, node, file);
  platform::FileIdentity now;
  if (error.ok()) error = platform::identify(file, now);
  if (error.ok() && !now.unchanged_since(scanned.identity)) {
    error = Error::because("it changed while the archive was written");
  }
  if (!error.ok()) error.during(Error::Step::read).on(path_of(node));
  return error;
}

void FolderSource::read_ahead(const SourceNode& node) {
  // Only asked for: what it finds is checked when the file is opened.
  platform::FileHandle file;
  if (open_through(ahead_, node, file).ok()) platform::read_ahead(file);
}

std::string FolderSource::path_of(const SourceNode& node) const {
  const Scanned& file = files_[node.disk_file];
  return folder_path(file.folder) + "/" + file.name;
}

std::string FolderSource::folder_path(std::size_t folder) const {
  std::vector<std::size_t> up;
  for (std::size_t id = folder; id != 0; id = folders_[id].folder) up.push_back(id);
  std::string path = shown_;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (auto id = up.rbegin(); id != up.rend(); ++id) path += "/" + folders_[*id].name;
  return path;
}

Error FolderSource::open_through(Chain& chain, const SourceNode& node, platform::FileHandle& file) {
  const Scanned& scanned = files_[node.disk_file];
  std::vector<std::size_t> wanted;
  for (std::size_t id = scanned.folder; id != 0; id = folders_[id].folder) wanted.push_back(id);
  std::reverse(wanted.begin(), wanted.end());
  // Keep what the chain shares with the last one, open the rest.
  std::size_t kept = 0;
  while (kept < chain.ids.size() && kept < wanted.size() && chain.ids[kept] == wanted[kept]) ++kept;
  chain.folders.resize(kept);
  chain.ids.resize(kept);
  for (std::size_t i = kept; i < wanted.size(); ++i) {
    platform::Folder next;
    platform::FileIdentity identity;
    platform::native_name(folders_[wanted[i]].name, name_);
    Error opened = platform::open_subfolder(chain.folders.empty() ? root_ : chain.folders.back(), name_, next);
    if (opened.ok()) opened = platform::identify(next.handle, identity);
    if (opened.ok() && !identity.same_object(folders_[wanted[i]].identity)) {
      opened = Error::because("its folder changed while the archive was written");
    }
    if (!opened.ok()) return opened;
    chain.folders.push_back(std::move(next));
    chain.ids.push_back(wanted[i]);
  }
  platform::native_name(scanned.name, name_);
  return platform::open_file(chain.folders.empty() ? root_ : chain.folders.back(), name_, file);
}

}  // namespace kelvarin::brq
