// Scanning a folder for brq pack and brq diff, and opening its files again
// to read them.
#include "packing/folder_source.h"

#include <algorithm>
#include <limits>
#include <map>

#include "messages/entry_messages.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "names/entry_pattern.h"
#include "names/utf8.h"

namespace kelvarin {
namespace {

constexpr const char* kStoreAllTheSame = " (--allow-unportable stores it all the same)";

// Names that differ only in case are one name on Windows: extracted there,
// only the first would be written.
void refuse_case_twins(const std::vector<std::string_view>& names, const std::string& path,
                       std::vector<Error>& problems) {
  std::vector<std::pair<std::string, std::string_view>> folded;
  folded.reserve(names.size());
  for (std::string_view name : names) folded.emplace_back(CaseRule::folding().key(name), name);
  std::sort(folded.begin(), folded.end());
  for (std::size_t i = 1; i < folded.size(); ++i) {
    if (folded[i].first != folded[i - 1].first) continue;
    problems.push_back(Error::because("differs only in case from " + std::string(folded[i - 1].second) +
                                      ", which Windows takes for the same name" + kStoreAllTheSame)
                           .on(path + "/" + std::string(folded[i].second)));
  }
}

const ChosenPaths kWholeFolder{};

std::string shown_path(const std::string& path) { return path.empty() ? "." : path; }

// Why `paths[clash]` can't be taken with the paths before it.
Error clash_of(const std::vector<std::string>& paths, std::size_t clash) {
  const std::string& path = paths[clash];
  auto inside = [](const std::string& inner, const std::string& outer) {
    return outer.empty() || (inner.size() > outer.size() && inner.starts_with(outer) && inner[outer.size()] == '/');
  };
  for (std::size_t i = 0; i < clash; ++i) {
    if (paths[i] == path) return Error::because(shown_path(path) + " is given twice");
    if (inside(path, paths[i]) || inside(paths[i], path)) {
      const bool path_inside = inside(path, paths[i]);
      return Error::because(shown_path(path_inside ? path : paths[i]) + " lies inside " +
                            shown_path(path_inside ? paths[i] : path) + ", which is given too");
    }
  }
  return Error::because(shown_path(path) + " is given twice");
}

void sort_by_name(ChosenPaths& chosen) {
  std::sort(chosen.children.begin(), chosen.children.end(),
            [](const ChosenPaths& a, const ChosenPaths& b) { return a.name < b.name; });
  for (ChosenPaths& child : chosen.children) sort_by_name(child);
}

const ChosenPaths* chosen_child(const ChosenPaths& chosen, const std::string& name) {
  const auto found = std::lower_bound(chosen.children.begin(), chosen.children.end(), name,
                                      [](const ChosenPaths& child, const std::string& key) { return child.name < key; });
  return found != chosen.children.end() && found->name == name ? &*found : nullptr;
}

}  // namespace

Result<ChosenPaths> ChosenPaths::of(const std::vector<std::string>& typed) {
  std::vector<std::string> paths;
  for (const std::string& path : typed) paths.push_back(normalise_entry_path(path));
  ChosenPaths root;
  root.whole = false;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    ChosenPaths* node = &root;
    for (std::size_t start = 0; start < path.size() && !node->whole;) {
      const std::size_t end = std::min(path.find('/', start), path.size());
      const std::string name = path.substr(start, end - start);
      auto found = std::find_if(node->children.begin(), node->children.end(),
                                [&](const ChosenPaths& child) { return child.name == name; });
      if (found == node->children.end()) found = node->children.insert(found, {name, false, {}});
      node = &*found;
      start = end + 1;
    }
    if (node->whole || !node->children.empty()) return clash_of(paths, i);
    node->whole = true;
  }
  sort_by_name(root);
  return root;
}

FolderSource::FolderSource(platform::Folder root, std::string shown)
    : shown_(std::move(shown)), root_(std::move(root)) {
  platform::FileIdentity identity;
  platform::identify(root_.handle, identity);
  names_.push_back('\0');  // the root's empty name, at 0
  folders_.push_back({0, 0, 0, 0, 0, identity});
}

Result<SourceNode> FolderSource::scan(const ScanOptions& options, ScanReport& report) {
  Error scanned = scan(options, kWholeFolder, report);
  if (!scanned.ok()) return scanned;
  SourceNode root = source_folder("");
  // A folder's children are made whole before the folders below them, so
  // that their addresses stay put.
  std::vector<std::pair<SourceNode*, std::size_t>> pending{{&root, 0}};
  Node node;
  while (!pending.empty()) {
    const auto [folder, expansion] = pending.back();
    pending.pop_back();
    std::vector<std::size_t> below;
    for (Cursor cursor; next_child(expansion, cursor, node);) {
      if (node.is_folder) {
        below.push_back(node.id);
        folder->children.push_back(source_folder(std::string(node.name)));
        continue;
      }
      SourceNode& file = folder->children.emplace_back();
      file.name = node.name;
      file.disk_file = node.id;
      file.size = node.size;
    }
    std::size_t next = 0;
    for (SourceNode& child : folder->children) {
      if (child.is_folder) pending.emplace_back(&child, below[next++]);
    }
  }
  return root;
}

Error FolderSource::scan(const ScanOptions& options, const ChosenPaths& chosen, ScanReport& report) {
  Error listed = scan_folders(options, chosen, report);
  if (!listed.ok()) return std::move(listed.on(folder_path(0)));
  resolve_links(report);
  expand_folders(report);
  return {};
}

// Names are kept one after the other, each ended by a zero byte.
Error FolderSource::add_name(const std::string& name, std::uint32_t& offset) {
  if (names_.size() + name.size() + 1 > std::numeric_limits<std::uint32_t>::max()) {
    return Error::because("the names take more than 4 GiB");
  }
  offset = static_cast<std::uint32_t>(names_.size());
  names_ += name;
  names_.push_back('\0');
  return {};
}

std::string_view FolderSource::name_of(std::uint32_t name) const { return names_.c_str() + name; }

// What a file must still be when it is read: the same device and the same
// times. Its inode and size are kept as they are.
std::uint64_t FolderSource::stamp_of(const platform::FileIdentity& identity) {
  auto mix = [](std::uint64_t value) {  // splitmix64's finaliser
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
  };
  return mix(identity.device ^ mix(identity.changed ^ mix(identity.modified)));
}

// Every folder below the root, each listed once, its items kept by name:
// nothing is followed yet, so what a link leads to is found among them.
Error FolderSource::scan_folders(const ScanOptions& options, const ChosenPaths& chosen, ScanReport& report) {
  // A folder being scanned, held open while the folders below it are: the
  // depth of the tree bounds the handles open at once.
  struct Level {
    platform::Folder folder;  // unused for the root, which root_ is
    std::size_t id;
    std::vector<Pending> subfolders;  // its items still to scan
  };
  std::vector<Level> levels;
  levels.push_back({{}, 0, {}});
  Error listed = list_items(root_, 0, options, chosen, report, levels.back().subfolders);
  if (!listed.ok()) return listed;
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.subfolders.empty()) {
      levels.pop_back();
      continue;
    }
    const std::size_t parent_id = level.id;
    const auto [at, below] = level.subfolders.back();
    level.subfolders.pop_back();
    const std::string name(name_of(items_[at].name));
    const platform::Folder& parent = levels.size() == 1 ? root_ : level.folder;
    Level next{{}, folders_.size(), {}};
    platform::FileIdentity identity;
    platform::native_name(name, name_);
    Error opened = platform::open_subfolder(parent, name_, next.folder);
    if (opened.ok()) opened = platform::identify(next.folder.handle, identity);
    if (opened.ok()) {
      folders_.push_back({static_cast<std::uint32_t>(parent_id), items_[at].name, 0, 0, 0, identity});
      opened = list_items(next.folder, next.id, options, *below, report, next.subfolders);
    }
    if (!opened.ok()) {
      if (folders_.size() > next.id) folders_.pop_back();
      report.left_out.push_back(opened.on(folder_path(parent_id) + "/" + name));
      items_[at].kind = Kind::dropped;
      continue;
    }
    items_[at].id = static_cast<std::uint32_t>(next.id);
    levels.push_back(std::move(next));
  }
  return {};
}

// Lists the folder `id` into its items, each told of as it can't be stored;
// its subfolders' places among them go to `subfolders`.
Error FolderSource::list_items(const platform::Folder& folder, std::size_t id, const ScanOptions& options,
                               const ChosenPaths& chosen, ScanReport& report, std::vector<Pending>& subfolders) {
  std::vector<platform::FolderItem> listing;
  Error listed = platform::list_folder(folder, listing);
  if (!listed.ok()) return listed;
  std::sort(listing.begin(), listing.end(),
            [](const platform::FolderItem& a, const platform::FolderItem& b) { return a.name < b.name; });
  if (!chosen.whole) keep_chosen(listing, id, chosen, report);
  const std::string inside = options.excludes == nullptr ? std::string() : archive_path(id);
  // Numbers that an archive could not hold anyway are not numbered.
  if (items_.size() + listing.size() >= static_cast<std::size_t>(kEntryCountLimit)) {
    return Error::because("it holds more than an archive can: " + std::to_string(kEntryCountLimit) + " entries");
  }
  folders_[id].first_item = static_cast<std::uint32_t>(items_.size());
  folders_[id].first_file = static_cast<std::uint32_t>(files_.size());
  for (const platform::FolderItem& entry : listing) {
    if (options.excludes != nullptr &&
        options.excludes->excluded(entry.name, inside.empty() ? entry.name : inside + "/" + entry.name)) {
      continue;
    }
    auto told = [&](std::vector<Error>& list, const std::string& why) {
      list.push_back(Error::because(why).on(folder_path(id) + "/" + entry.name));
    };
    auto leave_out = [&](const std::string& why) { told(report.left_out, why); };
    const NameProblem unsafe = name_problem(entry.name, entry.kind != platform::FolderItem::Kind::folder);
    if (unsafe != NameProblem::none) {
      leave_out(std::string(describe(unsafe)) + ", so Kelvarin_Extract would refuse it");
      continue;
    }
    if (entry.name.size() > kMaxNameBytes) {
      leave_out("the name is longer than " + std::to_string(kMaxNameBytes) + " bytes");
      continue;
    }
    if (!is_utf8(entry.name)) {
      leave_out("the name is not UTF-8 text, which archive names are");
      continue;
    }
    const NameProblem unportable = options.portable ? windows_name_problem(entry.name) : NameProblem::none;
    if (unportable != NameProblem::none) told(report.unportable, std::string(describe(unportable)) + kStoreAllTheSame);
    platform::native_name(entry.name, name_);
    Item item{0, Kind::file, 0};
    switch (entry.kind) {
      case platform::FolderItem::Kind::link: {
        if (!options.dereference) {
          leave_out("is a link, which an archive can't hold");
          continue;
        }
        Link link{id, items_.size(), {}, kNowhere, kNowhere};
        const Error followed = platform::identify_target(folder, name_, link.target);
        if (!followed.ok()) {
          leave_out("is a link that leads nowhere: " + cause_of(followed));
          continue;
        }
        item.kind = Kind::link;
        item.id = static_cast<std::uint32_t>(links_.size());
        links_.push_back(std::move(link));
        break;
      }
      case platform::FolderItem::Kind::other:
        leave_out("is neither a folder nor a regular file");
        continue;
      case platform::FolderItem::Kind::folder:
        subfolders.push_back({items_.size(), chosen.whole ? &kWholeFolder : chosen_child(chosen, entry.name)});
        item.kind = Kind::folder;
        break;
      case platform::FolderItem::Kind::file: {
        platform::FileIdentity identity;
        const Error looked = platform::identify_in(folder, name_, identity);
        if (!looked.ok() || !identity.is_regular) {
          leave_out(looked.ok() ? "is neither a folder nor a regular file" : cause_of(looked));
          continue;
        }
        if (identity.size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
          leave_out("the file has " + std::to_string(identity.size) +
                    " bytes; an archive holds files below 2 GiB (2147483648 bytes)");
          continue;
        }
        item.kind = Kind::file;
        item.id = static_cast<std::uint32_t>(files_.size());
        files_.push_back({identity.inode, stamp_of(identity), static_cast<std::uint32_t>(identity.size),
                          static_cast<std::uint32_t>(items_.size())});
        break;
      }
    }
    Error named = add_name(entry.name, item.name);
    if (!named.ok()) return named;
    items_.push_back(item);
  }
  folders_[id].item_count = static_cast<std::uint32_t>(items_.size() - folders_[id].first_item);
  if (options.portable) {
    std::vector<std::string_view> names;
    for (std::size_t i = folders_[id].first_item; i < items_.size(); ++i) names.push_back(name_of(items_[i].name));
    refuse_case_twins(names, folder_path(id), report.unportable);
  }
  return {};
}

// Keeps of `listing`, the folder `id`'s, only what `chosen` names; what it
// names that is not there, or is not a folder where a path leads through
// it, is missing.
void FolderSource::keep_chosen(std::vector<platform::FolderItem>& listing, std::size_t id, const ChosenPaths& chosen,
                               ScanReport& report) const {
  std::vector<platform::FolderItem> kept;
  auto entry = listing.begin();
  for (const ChosenPaths& child : chosen.children) {
    entry = std::lower_bound(entry, listing.end(), child.name,
                             [](const platform::FolderItem& item, const std::string& name) { return item.name < name; });
    const bool there = entry != listing.end() && entry->name == child.name;
    if (there && (child.whole || entry->kind == platform::FolderItem::Kind::folder)) {
      kept.push_back(std::move(*entry));
      continue;
    }
    report.missing.push_back(Error::because(there ? "is not a folder, so nothing chosen lies inside it"
                                                  : "no such file or folder")
                                 .on(folder_path(id) + "/" + child.name));
  }
  listing = std::move(kept);
}

// What each link leads to, among the files and folders scanned: anything
// else lies outside the tree, or was left out of it. A file is taken to
// lie on its folder's device.
void FolderSource::resolve_links(ScanReport& report) {
  if (links_.empty()) return;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::pair<Kind, std::size_t>> scanned;
  for (std::size_t id = 0; id < folders_.size(); ++id) {
    scanned.emplace(std::make_pair(folders_[id].identity.device, folders_[id].identity.inode),
                    std::make_pair(Kind::folder, id));
  }
  for (std::size_t id = 0; id < folders_.size(); ++id) {
    const Folder& folder = folders_[id];
    for (std::size_t i = folder.first_item; i < folder.first_item + folder.item_count; ++i) {
      if (items_[i].kind != Kind::file) continue;
      scanned.emplace(std::make_pair(folder.identity.device, files_[items_[i].id].inode),
                      std::make_pair(Kind::file, std::size_t{items_[i].id}));
    }
  }
  for (Link& link : links_) {
    const auto found = scanned.find(std::make_pair(link.target.device, link.target.inode));
    if (found == scanned.end()) {
      report.left_out.push_back(Error::because("is a link leading out of " + shown_ + ", or to what is left out")
                                    .on(folder_path(link.folder) + "/" + std::string(name_of(items_[link.item].name))));
      continue;
    }
    (found->second.first == Kind::file ? link.to_file : link.to_folder) = found->second.second;
  }
}

// The folders of the tree to store: each scanned folder once, and once
// more for each link that leads to it, holding all it holds. The folders
// one holds are made together, so that they are numbered together.
void FolderSource::expand_folders(ScanReport& report) {
  expansions_.assign(1, {0, 0, 0});
  std::vector<bool> loop_told(links_.size());
  auto on_the_way = [&](std::size_t expansion, std::size_t folder) {
    for (;; expansion = expansions_[expansion].holder) {
      if (expansions_[expansion].folder == folder) return true;
      if (expansion == 0) return false;
    }
  };
  for (std::size_t expansion = 0; expansion < expansions_.size(); ++expansion) {
    const Folder& folder = folders_[expansions_[expansion].folder];
    expansions_[expansion].first_below = static_cast<std::uint32_t>(expansions_.size());
    for (std::size_t i = folder.first_item; i < folder.first_item + folder.item_count; ++i) {
      const Item& item = items_[i];
      std::size_t below = item.kind == Kind::folder ? item.id : kNowhere;
      if (item.kind == Kind::link) {
        const Link& link = links_[item.id];
        below = link.to_folder;
        // A link to a folder it lies in would hold itself without end.
        if (below != kNowhere && on_the_way(expansion, below)) {
          if (!loop_told[item.id]) {
            report.left_out.push_back(
                Error::because("is a link to a folder it lies in, which would hold itself without end")
                    .on(folder_path(link.folder) + "/" + std::string(name_of(item.name))));
            loop_told[item.id] = true;
          }
          continue;
        }
      }
      if (below != kNowhere) {
        expansions_.push_back({static_cast<std::uint32_t>(below), static_cast<std::uint32_t>(expansion), 0});
      }
    }
  }
}

bool FolderSource::next_child(std::size_t expansion, Cursor& cursor, Node& node) const {
  if (expansion == kTopLevel) {
    if (cursor.at++ != 0) return false;
    node = {"", true, 0, 0};
    return true;
  }
  const Folder& folder = folders_[expansions_[expansion].folder];
  if (cursor.at == 0) cursor.aside = expansions_[expansion].first_below;
  while (cursor.at < folder.item_count) {
    const Item& item = items_[folder.first_item + cursor.at++];
    std::size_t file = item.kind == Kind::file ? item.id : kNowhere;
    std::size_t below = item.kind == Kind::folder ? item.id : kNowhere;
    if (item.kind == Kind::link) {
      file = links_[item.id].to_file;
      below = links_[item.id].to_folder;
    }
    if (file != kNowhere) {
      node = {name_of(item.name), false, files_[file].size, file};
      return true;
    }
    // A link to a folder it lies in has no folder of its own: skipped.
    if (below == kNowhere || cursor.aside == expansions_.size() || expansions_[cursor.aside].folder != below ||
        expansions_[cursor.aside].holder != expansion) {
      continue;
    }
    node = {name_of(item.name), true, 0, cursor.aside++};
    return true;
  }
  return false;
}

bool FolderSource::holds_folder(const platform::FileIdentity& folder) const {
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const Folder& scanned) { return scanned.identity.same_object(folder); });
}

Error FolderSource::open(std::size_t file, platform::FileHandle& handle) {
  const File& scanned = files_[file];
  // Asked for ahead: opened then, and checked now. What could not be opened
  // ahead (too many files open, say) is opened now, as if never asked for.
  const auto asked = std::find_if(opened_ahead_.begin(), opened_ahead_.end(),
                                  [&](const Ahead& ahead) { return ahead.file == file; });
  Error error;
  platform::FileIdentity now;
  if (asked != opened_ahead_.end() && asked->error.ok()) {
    handle = std::move(asked->handle);
    now = asked->identity;
  } else {
    error = open_through(reading_, file, handle, now);
  }
  if (asked != opened_ahead_.end()) opened_ahead_.erase(opened_ahead_.begin(), asked + 1);
  if (error.is_too_many_open() && (!opened_ahead_.empty() || !ahead_.ids.empty())) {
    // The files held for later give way to the one wanted now.
    opened_ahead_.clear();
    ahead_ = {};
    error = open_through(reading_, file, handle, now);
  }
  if (error.ok() && (now.inode != scanned.inode || now.size != scanned.size || stamp_of(now) != scanned.stamp)) {
    error = Error::because("it changed after its folder was scanned");
  }
  if (!error.ok()) error.during(Error::Step::read).on(path_of(file));
  return error;
}

void FolderSource::read_ahead(std::size_t file) {
  if (opened_ahead_.size() >= ahead_limit_) return;
  Ahead& ahead = opened_ahead_.emplace_back();
  ahead.file = file;
  ahead.error = open_through(ahead_, file, ahead.handle, ahead.identity);
  if (ahead.error.ok()) {
    platform::read_ahead(ahead.handle);
  } else if (ahead.error.is_too_many_open()) {
    // Fewer files held open from now on, leaving room for the rest of the run.
    ahead_limit_ = (opened_ahead_.size() - 1) / 2;
  }
}

// The files of a folder were numbered together, as it was listed.
std::size_t FolderSource::folder_of_file(std::size_t file) const {
  const std::size_t item = files_[file].item;
  const auto after = std::upper_bound(folders_.begin(), folders_.end(), item, [&](std::size_t at, const Folder& folder) {
    return at < folder.first_item;
  });
  // Folders are listed in the order they were made, and so are their items,
  // except a folder whose listing failed (no items): skip back over those.
  auto found = after - 1;
  while (found != folders_.begin() && (item < found->first_item || item >= found->first_item + found->item_count)) {
    --found;
  }
  return static_cast<std::size_t>(found - folders_.begin());
}

std::string FolderSource::path_of(std::size_t file) const {
  return folder_path(folder_of_file(file)) + "/" + std::string(name_of(items_[files_[file].item].name));
}

std::string FolderSource::folder_path(std::size_t folder) const {
  std::string path = shown_;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string inside = archive_path(folder);
  return inside.empty() ? path : path + "/" + inside;
}

std::string FolderSource::archive_path(std::size_t folder) const {
  std::vector<std::size_t> up;
  for (std::size_t id = folder; id != 0; id = folders_[id].folder) up.push_back(id);
  std::string path;
  for (auto id = up.rbegin(); id != up.rend(); ++id) {
    (path += path.empty() ? "" : "/") += name_of(folders_[*id].name);
  }
  return path;
}

Error FolderSource::open_through(Chain& chain, std::size_t file, platform::FileHandle& handle,
                                 platform::FileIdentity& identity) {
  std::vector<std::size_t> wanted;
  for (std::size_t id = folder_of_file(file); id != 0; id = folders_[id].folder) wanted.push_back(id);
  std::reverse(wanted.begin(), wanted.end());
  // Keep what the chain shares with the last one, open the rest.
  std::size_t kept = 0;
  while (kept < chain.ids.size() && kept < wanted.size() && chain.ids[kept] == wanted[kept]) ++kept;
  chain.folders.resize(kept);
  chain.ids.resize(kept);
  for (std::size_t i = kept; i < wanted.size(); ++i) {
    platform::Folder next;
    platform::FileIdentity folder;
    platform::native_name(std::string(name_of(folders_[wanted[i]].name)), name_);
    Error opened = platform::open_subfolder(chain.folders.empty() ? root_ : chain.folders.back(), name_, next);
    if (opened.ok()) opened = platform::identify(next.handle, folder);
    if (opened.ok() && !folder.same_object(folders_[wanted[i]].identity)) {
      opened = Error::because("its folder changed after it was scanned");
    }
    if (!opened.ok()) return opened;
    chain.folders.push_back(std::move(next));
    chain.ids.push_back(wanted[i]);
  }
  platform::native_name(std::string(name_of(items_[files_[file].item].name)), name_);
  return platform::open_file(chain.folders.empty() ? root_ : chain.folders.back(), name_, handle, identity);
}

}  // namespace kelvarin
