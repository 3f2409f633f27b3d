// Entry selection: matches each entry's path against the requested paths
// and patterns during one walk of the tree.
#include "extract/entry_selection.h"

#include <algorithm>
#include <unordered_map>

#include "archive/tree_walk.h"

namespace kelvarin {
namespace {

constexpr std::uint8_t kOnTheWay = Selection::kOnTheWay;
constexpr std::uint8_t kChosen = Selection::kChosen;

class Selector final : public TreeVisitor {
 public:
  Selector(const ArchiveIndex& index, const SelectionRequest& request, Selection& selection)
      : request_(request), selection_(selection), everything_(request.paths.empty()) {
    selection_.marks.assign(index.entry_count(), 0);
    selection_.named.resize(request.paths.size());
    for (std::size_t i = 0; i < request.paths.size(); ++i) {
      const std::string& path = request.paths[i];
      literal_[key(normalise_entry_path(path))].push_back(i);
      if (has_wildcards(path)) patterns_.push_back({PathPattern(path, request.ignore_case), i});
    }
    for (const std::string& exclude : request.excludes) {
      excludes_.push_back({PathPattern(exclude, request.ignore_case),
                           normalise_entry_path(exclude).find('/') == std::string::npos});
    }
  }

  bool enter_folder(const EntryVisit& folder) override {
    visit(folder);
    folders_.push_back(folder.entry);
    return true;
  }
  void leave_folder(const EntryVisit& folder) override {
    folders_.pop_back();
    if (!excluded_.empty() && excluded_.back() == folder.entry) excluded_.pop_back();
  }
  void visit_file(const EntryVisit& file) override { visit(file); }
  // An entry without a name can't be named, only taken with its folder.
  void visit_unnamed(const EntryVisit& entry) override {
    const bool above_chosen = folders_.empty() ? everything_ : marks()[folders_.back()] == kChosen;
    if (above_chosen && !inside_excluded()) marks()[entry.entry] = kChosen;
  }

 private:
  struct Pattern {
    PathPattern pattern;
    std::size_t request;
  };
  struct Exclude {
    PathPattern pattern;
    bool by_name;  // matched against the name alone
  };

  std::string key(std::string path) const {
    return request_.ignore_case ? fold_case(path) : path;
  }

  void visit(const EntryVisit& entry) {
    const std::uint8_t above = folders_.empty() ? 0 : marks()[folders_.back()];
    if (inside_excluded()) {
      push_excluded(entry);
      return;
    }
    const std::string path = listed_path(entry);
    if (is_excluded(entry, path)) {
      push_excluded(entry);
      return;
    }
    bool named = false;
    if (!literal_.empty()) {
      auto match = literal_.find(key(path));
      if (match != literal_.end()) {
        for (std::size_t request : match->second) name(request, entry.entry);
        named = true;
      }
    }
    for (const Pattern& pattern : patterns_) {
      if (pattern.pattern.matches(path)) {
        name(pattern.request, entry.entry);
        named = true;
      }
    }
    if (!named && !everything_ && above != kChosen) return;
    marks()[entry.entry] = kChosen;
    for (auto up = folders_.rbegin(); up != folders_.rend() && marks()[*up] == 0; ++up) {
      marks()[*up] = kOnTheWay;
    }
  }

  bool is_excluded(const EntryVisit& entry, const std::string& path) const {
    return std::any_of(excludes_.begin(), excludes_.end(), [&](const Exclude& exclude) {
      return exclude.pattern.matches(exclude.by_name ? std::string_view(entry.name) : path);
    });
  }

  bool inside_excluded() const {
    return !folders_.empty() && !excluded_.empty() && excluded_.back() == folders_.back();
  }

  // An excluded folder is remembered so that what it holds is passed over
  // without being matched.
  void push_excluded(const EntryVisit& entry) {
    if (entry.is_folder) excluded_.push_back(entry.entry);
  }

  void name(std::size_t request, std::uint32_t entry) {
    std::vector<std::uint32_t>& named = selection_.named[request];
    if (named.empty() || named.back() != entry) named.push_back(entry);
  }

  std::vector<std::uint8_t>& marks() { return selection_.marks; }

  const SelectionRequest& request_;
  Selection& selection_;
  const bool everything_;
  std::unordered_map<std::string, std::vector<std::size_t>> literal_;  // key -> requests
  std::vector<Pattern> patterns_;
  std::vector<Exclude> excludes_;
  std::vector<std::uint32_t> folders_;   // the folders the walk is in
  std::vector<std::uint32_t> excluded_;  // excluded folders the walk is in
};

}  // namespace

bool Selection::any() const {
  return std::any_of(marks.begin(), marks.end(), [](std::uint8_t mark) { return mark != 0; });
}

Selection select_entries(const ArchiveIndex& index, const SelectionRequest& request) {
  Selection selection;
  Selector selector(index, request, selection);
  walk_node(index, selector);
  for (std::size_t i = 0; i < request.paths.size(); ++i) {
    if (selection.named[i].empty()) selection.missing.push_back(request.paths[i]);
  }
  return selection;
}

}  // namespace kelvarin
