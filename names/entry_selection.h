// Choosing part of an archive: the entries a user names by their paths
// inside the archive or by patterns, with everything below them, less what
// the exclusions name. The matcher answers for one entry at a time, as the
// walk that plans the extraction meets it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "names/ascii.h"
#include "names/entry_pattern.h"

namespace kelvarin {

struct SelectionRequest {
  // Paths or patterns (see entry_pattern.h); none chooses everything. A
  // pattern without a separator is matched against each entry's name,
  // wherever it stands ("*.html"); one with a separator, and a path without
  // wildcards, against the whole path from the top.
  std::vector<std::string> paths;
  // Patterns of entries to leave out, with all they hold, matched the same
  // way ("*.wav" anywhere, "/x" only at the top); a name without wildcards
  // too is matched wherever it stands.
  std::vector<std::string> excludes;
  bool ignore_case = false;  // paths and patterns name entries in any case

  bool filters() const { return !paths.empty() || !excludes.empty(); }
};

class SelectionMatcher {
 public:
  explicit SelectionMatcher(const SelectionRequest& request);

  // Whether the request names no paths, and so takes everything.
  bool everything() const { return everything_; }

  // Whether the entry `name` at `path` (entry paths' form,
  // "maps/level1.map") is left out.
  bool excluded(std::string_view name, std::string_view path) const;

  // The numbers of the request's paths that name the entry `name` at
  // `path` itself, into `requests` (emptied first). A path with wildcards
  // also names the entry whose path it is, as typed.
  void naming(std::string_view name, std::string_view path, std::vector<std::size_t>& requests) const;

  // The numbers of the request's paths that may name something below the
  // folder at `path`, into `requests` (emptied first): a name pattern may
  // match below any folder.
  void naming_below(std::string_view path, std::vector<std::size_t>& requests) const;

 private:
  struct Pattern {
    PathPattern pattern;
    bool by_name;  // matched against the name alone
    std::size_t request;
  };
  struct Literal {
    std::string path;  // normalised, folded where case is ignored
    std::size_t request;
  };

  bool everything_;
  CaseRule rule_;  // paths compared in any case, or exactly
  std::unordered_map<std::string, std::vector<std::size_t>> literal_;  // key -> requests
  std::vector<Literal> literals_;
  std::vector<Pattern> patterns_;
  std::vector<Pattern> excludes_;
};

}  // namespace kelvarin
