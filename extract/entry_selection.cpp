// Entry selection: matches each entry's path against the requested ones
// during one walk of the tree.
#include "extract/entry_selection.h"

#include <algorithm>
#include <unordered_map>

#include "archive/tree_walk.h"

namespace kelvarin {
namespace {

constexpr std::uint8_t kOnTheWay = 1;  // created, but only its chosen contents visited
constexpr std::uint8_t kChosen = 2;    // a chosen entry or something below one

class Selector final : public TreeVisitor {
 public:
  Selector(const ArchiveIndex& index, std::unordered_map<std::string, bool>& wanted)
      : wanted_(wanted), marks_(index.entry_count(), 0) {}

  bool enter_folder(const EntryVisit& folder) override {
    visit(folder);
    folders_.push_back(folder.entry);
    return true;
  }
  void leave_folder(const EntryVisit&) override { folders_.pop_back(); }
  void visit_file(const EntryVisit& file) override { visit(file); }
  void visit_unnamed(const EntryVisit&) override {}

  std::vector<std::uint8_t> take_marks() { return std::move(marks_); }

 private:
  void visit(const EntryVisit& entry) {
    const bool inside_chosen = !folders_.empty() && marks_[folders_.back()] == kChosen;
    auto match = wanted_.find(listed_path(entry));
    if (match != wanted_.end()) match->second = true;
    if (!inside_chosen && match == wanted_.end()) return;
    marks_[entry.entry] = kChosen;
    for (auto up = folders_.rbegin(); up != folders_.rend() && marks_[*up] == 0; ++up) {
      marks_[*up] = kOnTheWay;
    }
  }

  std::unordered_map<std::string, bool>& wanted_;  // normal path -> found
  std::vector<std::uint8_t> marks_;
  std::vector<std::uint32_t> folders_;  // the folders the walk is in
};

}  // namespace

bool Selection::any() const {
  return std::any_of(marks.begin(), marks.end(), [](std::uint8_t mark) { return mark != 0; });
}

std::string normalise_entry_path(std::string_view path) {
  std::string normal;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) {
      if (!normal.empty()) normal += '/';
      normal.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return normal;
}

Selection select_entries(const ArchiveIndex& index, const std::vector<std::string>& paths) {
  std::unordered_map<std::string, bool> wanted;
  for (const std::string& path : paths) wanted.emplace(normalise_entry_path(path), false);
  Selector selector(index, wanted);
  walk_node(index, selector);
  Selection selection{selector.take_marks(), {}};
  for (const std::string& path : paths) {
    if (!wanted[normalise_entry_path(path)]) selection.missing.push_back(path);
  }
  return selection;
}

}  // namespace kelvarin
