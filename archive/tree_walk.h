// The one traversal of an archive's tree: every entry reachable from the
// root, in the order the extraction writes them (depth-first pre-order: a
// folder before its contents, a whole folder before its next sibling,
// siblings in chain order, the root's own sibling chain after the root).
// Extraction, listing, checking and selection all walk the tree with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/archive_index.h"

namespace kelvarin {

// One entry as the walk meets it.
struct EntryVisit {
  std::uint32_t entry = 0;
  std::uint32_t depth = 0;  // folders above it; 0 on the top level
  // The folders above it, from the top down, each name followed by '/'
  // (an empty name too: "/maps/" lies below the usual root). Names the
  // walk enters hold no separator, so each '/' here is one.
  std::string_view folder_path;
  std::string_view name;
  bool is_folder = false;
  bool name_readable = true;  // false only in visit_unnamed
};

class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // A folder: true to walk what it holds, after which leave_folder comes
  // with the same visit.
  virtual bool enter_folder(const EntryVisit& folder) = 0;
  virtual void leave_folder(const EntryVisit& folder) = 0;
  virtual void visit_file(const EntryVisit& file) = 0;
  // An entry whose name can't be read: it has no path of its own, and
  // whatever it holds is passed over.
  virtual void visit_unnamed(const EntryVisit& entry) = 0;
};

// Walks node 0 of `index`, everything below it and its own sibling chain.
// It keeps an explicit stack, so a sibling chain of millions or a nesting
// of thousands can't exhaust the call stack.
void walk_node(const ArchiveIndex& index, TreeVisitor& visitor);

// The path as brq names entries: the names from the top down joined by
// '/', an empty name adding nothing ("maps/level1.map"; "" for the usual
// root).
std::string listed_path(const EntryVisit& visit);

}  // namespace kelvarin
