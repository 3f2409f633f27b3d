// The traversal, and the path brq names entries by.
#include "archive/tree_walk.h"

#include <vector>

namespace kelvarin {

void walk_node(const ArchiveIndex& index, TreeVisitor& visitor) {
  // An entry still to visit, with the length of its folder's path; and a
  // folder entered and not yet left.
  struct Pending {
    std::uint32_t entry;
    std::uint32_t depth;
    std::size_t path_length;
  };
  std::string path;
  std::vector<Pending> pending{{0, 0, 0}};
  std::vector<Pending> open;
  auto visit_of = [&](const Pending& at) {
    const bool readable = index.name_readable(at.entry);
    return EntryVisit{at.entry, at.depth, std::string_view(path).substr(0, at.path_length),
                      readable ? index.name(at.entry) : std::string_view(),
                      index.is_folder(at.entry), readable};
  };
  auto leave_down_to = [&](std::size_t depth) {
    while (open.size() > depth) {
      visitor.leave_folder(visit_of(open.back()));
      open.pop_back();
    }
  };

  while (!pending.empty()) {
    const Pending at = pending.back();
    pending.pop_back();
    // A whole folder is done once the walk is back at its depth or above.
    leave_down_to(at.depth);
    const EntryNode& node = index.node(at.entry);
    if (node.next != kNoNode) pending.push_back({node.next, at.depth, at.path_length});
    path.resize(at.path_length);
    const EntryVisit visit = visit_of(at);
    if (!visit.name_readable) {
      visitor.visit_unnamed(visit);
      continue;
    }
    if (!visit.is_folder) {
      visitor.visit_file(visit);
      continue;
    }
    if (!visitor.enter_folder(visit)) continue;
    open.push_back(at);
    path += visit.name;
    path += '/';
    if (node.child != kNoNode) pending.push_back({node.child, at.depth + 1, path.size()});
  }
  leave_down_to(0);
}

std::string listed_path(const EntryVisit& visit) {
  std::string path;
  auto add = [&](std::string_view name) {
    if (name.empty()) return;
    if (!path.empty()) path += '/';
    path += name;
  };
  std::string_view rest = visit.folder_path;
  while (!rest.empty()) {
    const std::size_t end = rest.find('/');
    add(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  add(visit.name);
  return path;
}

}  // namespace kelvarin
