// Entry selection: each entry's path against the requested paths, patterns
// and exclusions.
#include "names/entry_selection.h"

#include <algorithm>

namespace kelvarin {

SelectionMatcher::SelectionMatcher(const SelectionRequest& request)
    : everything_(request.paths.empty()), rule_(request.ignore_case) {
  for (std::size_t i = 0; i < request.paths.size(); ++i) {
    const std::string& path = request.paths[i];
    std::string literal = rule_.key(normalise_entry_path(path));
    literal_[literal].push_back(i);
    if (has_wildcards(path)) {
      patterns_.push_back({PathPattern(path, rule_), is_name_pattern(path), i});
    } else {
      literals_.push_back({std::move(literal), i});
    }
  }
  for (const std::string& exclude : request.excludes) {
    excludes_.push_back({PathPattern(exclude, rule_), is_name_pattern(exclude), 0});
  }
}

bool SelectionMatcher::excluded(std::string_view name, std::string_view path) const {
  return std::any_of(excludes_.begin(), excludes_.end(), [&](const Pattern& exclude) {
    return exclude.pattern.matches(exclude.by_name ? name : path);
  });
}

void SelectionMatcher::naming(std::string_view name, std::string_view path,
                              std::vector<std::size_t>& requests) const {
  requests.clear();
  if (!literal_.empty()) {
    auto match = literal_.find(rule_.key(path));
    if (match != literal_.end()) requests = match->second;
  }
  for (const Pattern& pattern : patterns_) {
    if (pattern.pattern.matches(pattern.by_name ? name : path) &&
        std::find(requests.begin(), requests.end(), pattern.request) == requests.end()) {
      requests.push_back(pattern.request);
    }
  }
}

void SelectionMatcher::naming_below(std::string_view path, std::vector<std::size_t>& requests) const {
  requests.clear();
  const std::string folder = rule_.key(path);
  for (const Literal& literal : literals_) {
    // Everything is below the usual root, whose path is empty.
    if (folder.empty() ? !literal.path.empty()
                       : literal.path.size() > folder.size() && literal.path.starts_with(folder) &&
                             literal.path[folder.size()] == '/') {
      requests.push_back(literal.request);
    }
  }
  for (const Pattern& pattern : patterns_) {
    if (pattern.by_name || pattern.pattern.may_match_below(path)) requests.push_back(pattern.request);
  }
}

}  // namespace kelvarin
