// The tree walk. It keeps an explicit stack instead of recursing, so a
// sibling chain of millions or a nesting of thousands can't exhaust the
// call stack; the order of visits is the recursive one: a folder before its
// contents, a whole subtree before the next sibling, siblings in chain order.
#include "extract/walk.h"

#include <new>
#include <string>
#include <vector>

#include "archive/index_loader.h"
#include "extract/entry_name.h"
#include "extract/extract_entry.h"
#include "extract/report.h"

namespace kelvarin {
namespace {

// A node still to visit, with the folder it lies in: the lengths of the
// relative and native paths of that folder, which the walk's two path
// strings are cut back to before the visit.
struct Pending {
  std::uint32_t node;
  std::size_t dir_path_length;
  std::size_t native_length;
  bool folder_usable;
  bool folder_is_destination;  // the folder is the destination itself
  bool top_level;              // the start node or its sibling chain
  bool separator_added;        // a separator stands between destination and path
};

std::string entry_path(std::string_view dir_path, std::string_view name) {
  std::string path(dir_path);
  path += name;
  return path;
}

}  // namespace

int walk_node(ExtractState& state, std::uint32_t start) {
  try {
    // Top-level paths that begin with a name instead of a backslash (a root
    // with a name, the root's siblings, a root that is a file) get one
    // separator after the destination, unless it ends with one already: the
    // output never lands beside the destination folder.
    // What counts as a separator is the OS's: on Linux a destination typed
    // as "out\" is a folder of that name and still needs one.
    const bool destination_needs_separator = state.dest_folder_native.empty() ||
                                             state.dest_folder_native.back() != platform::kSeparator;
    const std::string dest_with_separator = state.dest_folder + "\\";

    std::string dir_path;
    platform::NativeString native = state.dest_folder_native;
    std::vector<Pending> pending{{start, 0, native.size(), true, true, true, false}};

    while (!pending.empty()) {
      const Pending visit = pending.back();
      pending.pop_back();
      const EntryNode& node = state.node_table[visit.node];
      if (node.next != kNoNode) {
        Pending sibling = visit;
        sibling.node = node.next;
        pending.push_back(sibling);
      }
      if (!state.visit_mask.empty() && state.visit_mask[visit.node] == 0) continue;
      dir_path.resize(visit.dir_path_length);
      native.resize(visit.native_length);
      const bool is_file = node.kind != NODE_DIRECTORY;

      if (node.problem == EntryProblem::name_outside_pool ||
          node.problem == EntryProblem::name_unterminated ||
          node.problem == EntryProblem::name_too_long) {
        report_error(state, "Skipping entry " + std::to_string(node.entry_index) + " in " +
                                (dir_path.empty() ? std::string("the top level") : dir_path) +
                                ": " + describe_problem(state, node));
        continue;
      }
      const std::string_view name = entry_name(state, node);
      if (const char* reason = unsafe_name_reason(name, is_file)) {
        report_error(state, "Skipping entry " + std::to_string(node.entry_index) + ", " +
                                entry_path(dir_path, name) + ": " + reason);
        continue;
      }
      if (is_file && node.problem != EntryProblem::none) {
        report_error(state, "Skipping entry " + std::to_string(node.entry_index) + ", " +
                                entry_path(dir_path, name) + ": " + describe_problem(state, node));
        continue;
      }

      bool separator_added = visit.separator_added;
      if (visit.top_level && !name.empty() && destination_needs_separator) {
        native += platform::kSeparator;
        separator_added = true;
      }
      std::string_view dest_shown = separator_added ? std::string_view(dest_with_separator)
                                                    : std::string_view(state.dest_folder);

      if (is_file) {
        FolderContext folder{dir_path, native, dest_shown, visit.folder_usable};
        extract_entry(state, node, name, folder);
        continue;
      }

      dir_path += name;
      dir_path += '\\';
      native += platform::native_path(name);
      native += platform::kSeparator;
      const bool is_destination = visit.folder_is_destination && name.empty();
      // Nothing is tried inside a folder that failed: it may be a link
      // leading out of the destination.
      bool usable = visit.folder_usable && platform::make_folder(native, is_destination).ok();
      if (!usable) {
        report_error(state, std::string(dest_shown) + dir_path + " doesn't exist!");
      }
      if (node.child != kNoNode) {
        pending.push_back({node.child, dir_path.size(), native.size(), usable, is_destination, false,
                           separator_added});
      }
    }
  } catch (const std::bad_alloc&) {
    // Reported without taking memory: there may be none left to take.
    static constexpr std::string_view kLine = "ERROR: Unable to allocate memory!\n";
    state.had_failure = true;
    if (state.on_error) {
      state.on_error(kLine);
    } else {
      print_text(state, kLine);
    }
    return -1;
  }
  return 1;
}

}  // namespace kelvarin
