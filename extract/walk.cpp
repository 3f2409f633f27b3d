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
  bool fresh = false;          // the folder is made by this run under a temporary name
  bool names_staged = false;   // not a node: the staged folder is complete
};

// A folder this run makes is filled under a temporary name beside where it
// belongs and given its name once its whole subtree is written, so that a
// killed run never shows a half-written file under its name, while the
// files in it are written straight under theirs: one rename per folder
// instead of one per file. Only one is ever being filled, as everything
// under it is fresh already.
struct StagedFolder {
  bool active = false;
  platform::NativeString temp_path;   // neither path ends with a separator
  platform::NativeString final_path;
  std::string shown;                  // the folder as errors print it
};

// Starts filling the folder `native` (its final path, not yet ending with a
// separator, in a folder that ends at `parent_length`) under its temporary
// name, where its name is free and that folder can be made. Then `native`
// becomes the temporary folder, ending with a separator.
bool start_staged_folder(platform::NativeString& native, std::size_t parent_length,
                         std::string_view name, StagedFolder& staged) {
  if (!platform::name_is_free(native)) return false;
  staged.final_path = native;
  staged.temp_path.assign(native, 0, parent_length);
  const std::string temp_name = temporary_folder_name(name);
  staged.temp_path.append(temp_name.begin(), temp_name.end());
  if (!platform::make_fresh_folder(staged.temp_path).ok()) return false;
  native = staged.temp_path;
  native += platform::kSeparator;
  staged.active = true;
  return true;
}

void name_staged_folder(ExtractState& state, StagedFolder& staged) {
  staged.active = false;
  platform::Outcome named = platform::name_folder(staged.temp_path, staged.final_path);
  if (!named.ok()) {
    const std::size_t name_start = staged.temp_path.find_last_of(platform::kSeparator) + 1;
    std::string temp_name(staged.temp_path.begin() + static_cast<std::ptrdiff_t>(name_start),
                          staged.temp_path.end());
    report_error(state, "Unable to put folder " + staged.shown + " in place: " +
                            platform::describe(named) + "; what was written in it is in " +
                            temp_name + " beside it");
  }
}

std::string entry_path(std::string_view dir_path, std::string_view name) {
  std::string path(dir_path);
  path += name;
  return path;
}

}  // namespace

int walk_node(ExtractState& state, std::uint32_t start) {
  StagedFolder staged;
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
      if (visit.names_staged) {
        name_staged_folder(state, staged);
        continue;
      }
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
        FolderContext folder{dir_path, native, dest_shown, visit.folder_usable, visit.fresh};
        extract_entry(state, node, name, folder);
        continue;
      }

      dir_path += name;
      dir_path += '\\';
      const std::size_t parent_length = native.size();
      native += platform::native_path(name);
      const bool is_destination = visit.folder_is_destination && name.empty();
      bool usable = visit.folder_usable;
      bool fresh = visit.fresh;
      if (usable && !fresh && !is_destination && node.child != kNoNode &&
          start_staged_folder(native, parent_length, name, staged)) {
        staged.shown = std::string(dest_shown) + dir_path;
        fresh = true;
        // Taken from the stack after the whole subtree.
        Pending names_staged{};
        names_staged.names_staged = true;
        pending.push_back(names_staged);
      } else {
        native += platform::kSeparator;
        // Nothing is tried inside a folder that failed: it may be a link
        // leading out of the destination.
        usable = usable && platform::make_folder(native, is_destination).ok();
        if (!usable) {
          report_error(state, std::string(dest_shown) + dir_path + " doesn't exist!");
        }
      }
      if (node.child != kNoNode) {
        pending.push_back({node.child, dir_path.size(), native.size(), usable, is_destination, false,
                           separator_added, fresh});
      }
    }
  } catch (const std::bad_alloc&) {
    // Reported without taking memory: there may be none left to take.
    static constexpr std::string_view kLine = "ERROR: Unable to allocate memory!\n";
    state.had_failure = true;
    // What is written in a staged folder is whole: it still gets its name.
    if (staged.active) {
      try {
        platform::name_folder(staged.temp_path, staged.final_path);
      } catch (const std::bad_alloc&) {
      }
    }
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
