// Scanning what an edit puts into an archive, and its refusals in words.
#include "packing/disk_trees.h"

#include "messages/entry_messages.h"
#include "names/entry_pattern.h"

namespace kelvarin {
namespace {

// The scanned tree less what `excludes` names, with all it holds.
void exclude(SourceNode& folder, const std::string& path, const SelectionMatcher& matcher) {
  std::erase_if(folder.children, [&](const SourceNode& child) {
    return matcher.excluded(child.name, path.empty() ? child.name : path + "/" + child.name);
  });
  for (SourceNode& child : folder.children) {
    if (child.is_folder) exclude(child, path.empty() ? child.name : path + "/" + child.name, matcher);
  }
}

}  // namespace

Error NamedFiles::open(const SourceNode& node, platform::FileHandle& file) {
  const Named& named = named_[node.disk_file];
  // A link named with -h is followed: what it leads to was found.
  Error error = platform::open_archive(named.path, file);
  platform::FileIdentity now;
  if (error.ok()) error = platform::identify(file, now);
  if (error.ok() && !now.unchanged_since(named.identity)) error = Error::because("it changed after it was found");
  if (!error.ok()) error.during(Error::Step::read).on(named.path);
  return error;
}

bool scan_disk(const std::string& disk_path, const std::string& archive_path, const DiskScan& how, DiskTrees& disk,
               SourceNode& tree, FileSource*& source, ScanReport& report) {
  const ScanOptions options{how.portable, how.dereference};
  platform::Folder folder;
  platform::FileIdentity found;
  platform::Folder parent;
  std::string name;
  Error error = platform::open_parent_folder(disk_path, parent, name);
  platform::NativeString native;
  platform::native_name(name, native);
  if (error.ok() && !name.empty()) error = platform::identify_in(parent, native, found);
  const bool follow = how.dereference || name.empty() || !found.is_link;
  if (error.ok() && follow && platform::open_folder(disk_path, folder).ok()) {
    auto& scanned_source = disk.folders.emplace_back(std::make_unique<FolderSource>(std::move(folder), disk_path));
    Result<SourceNode> scanned = scanned_source->scan(options, report);
    if (!scanned.ok()) {
      Error failed = scanned.error();
      report.left_out.push_back(failed.on(disk_path));
      return false;
    }
    tree = std::move(scanned.value());
    if (!how.excludes.empty()) exclude(tree, archive_path, SelectionMatcher({{}, how.excludes, false}));
    source = scanned_source.get();
    return true;
  }
  if (error.ok() && found.is_link && !how.dereference) {
    error = Error::because("it is a symbolic link (-h follows it)");
  } else if (error.ok() && found.is_link) {
    error = platform::identify_target(parent, native, found);
  }
  if (error.ok() && !found.is_regular) error = Error::because("it is neither a folder nor a regular file");
  if (error.ok() && found.size >= (std::uint64_t{1} << 31)) {
    error = Error::because("it is 2 GiB or larger, more than an archive can hold");
  }
  if (!error.ok()) {
    report.left_out.push_back(error.on(disk_path));
    return false;
  }
  tree = source_file(name, {});
  tree.size = found.size;
  tree.disk_file = disk.files.add({disk_path, found});
  source = &disk.files;
  return true;
}

std::vector<DiskPut> scan_puts(const std::vector<std::string>& paths, const std::string& directory, bool sync,
                               const DiskScan& how, DiskTrees& disk, ScanReport& report) {
  std::vector<DiskPut> puts;
  for (const std::string& path : paths) {
    DiskPut put;
    put.archive_path = sync ? std::string() : normalise_entry_path(path);
    const std::string disk_path = sync || directory.empty() ? path : directory + "/" + path;
    if (scan_disk(disk_path, put.archive_path, how, disk, put.tree, put.source, report)) {
      puts.push_back(std::move(put));
    }
  }
  return puts;
}

Error put_all(ArchiveEdit& edit, std::vector<DiskPut>& puts, std::vector<EditChange>& changes,
              EditRefusal& refusal) {
  refusal = {};
  for (DiskPut& put : puts) {
    Error error = edit.put(put.archive_path, std::move(put.tree), *put.source, changes, refusal);
    if (!error.ok() || refusal.refused()) return error;
  }
  return {};
}

std::string put_failure_text(const std::string& archive, const Error& error) {
  return "Unable to change " + archive + ": " + cause_of(error) +
         (error.path().empty() ? "" : " (" + error.path() + ")") + "; nothing changed";
}

std::string refusal_text(const EditRefusal& refusal) {
  const std::string path = refusal.path.empty() ? "/" : refusal.path;
  switch (refusal.kind) {
    case EditRefusal::Kind::not_found:
      return "No entry named " + path;
    case EditRefusal::Kind::is_root:
      return "The top of the archive can't be moved";
    case EditRefusal::Kind::name_taken:
      return path + " is there already";
    case EditRefusal::Kind::not_a_folder:
      return path + " is a file, not a folder";
    case EditRefusal::Kind::into_itself:
      return "Unable to move " + refusal.other + " into itself";
    case EditRefusal::Kind::bad_name:
    case EditRefusal::Kind::unportable:
      return path + ": " + describe(refusal.name_problem) +
             (refusal.kind == EditRefusal::Kind::unportable ? " (--allow-unportable stores it)" : "");
    case EditRefusal::Kind::name_too_long:
      return path + ": the name is longer than 1024 bytes";
    case EditRefusal::Kind::not_utf8:
      return path + ": the name is not UTF-8";
    case EditRefusal::Kind::case_twin:
      return path + ": differs only in case from " + refusal.other +
             ", and on Windows only one of them would survive (--allow-unportable stores it)";
    case EditRefusal::Kind::too_deep:
      return path + ": " + refusal.other + " would lie inside more than " + std::to_string(kMaxFolderDepth) +
             " folders, more than an extraction takes";
    case EditRefusal::Kind::path_too_long:
      return path + ": " + refusal.other + " would be longer than " + std::to_string(kMaxPathBytes) +
             " bytes, more than an extraction takes";
    case EditRefusal::Kind::none:
      break;
  }
  return path;
}

}  // namespace kelvarin
