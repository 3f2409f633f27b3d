// Patterns over entry paths, as users type them to pick entries: '*' and
// '?' within a name, '[...]' classes, and a '**' name standing for any
// number of folders ("sounds/**/*.wav").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "names/ascii.h"

namespace kelvarin {

// A path as a user may type it, in the form entry paths have: separators
// '/' (a '\' is one too: Kelvarin_Extract prints paths with it, and no name
// the extraction takes holds either), none leading, trailing or doubled,
// and no name "." ("\maps//a.dat/" and "./maps/a.dat", as tar -t prints
// paths, are "maps/a.dat").
std::string normalise_entry_path(std::string_view path);

// Whether the pattern `text` is matched against entries' names alone,
// wherever they stand: it holds no separator as typed ("*.html"). One with
// a separator, even a leading one ("/*.html"), is matched against whole
// paths from the top.
bool is_name_pattern(std::string_view text);

// Whether `text` holds '*', '?' or '['.
bool has_wildcards(std::string_view text);

// Whether `name` (one name, no separator) matches `pattern`: '*' any run of
// characters, '?' one character (a UTF-8 sequence counts as one), "[a-z]"
// one of a class, "[!...]" or "[^...]" one not in it; every other byte
// stands for itself. There is no escape character, since '\' is a
// separator: "[*]" matches a '*'. Letters are compared under `rule`.
bool match_name(std::string_view pattern, std::string_view name, CaseRule rule);

class PathPattern {
 public:
  // `text` is normalised first. A name "**" matches any number of folders,
  // none included.
  PathPattern(std::string_view text, CaseRule rule);

  // `path` in the form entry paths have ("maps/level1.map").
  bool matches(std::string_view path) const;
  // Whether it may match a path below the folder at `path`.
  bool may_match_below(std::string_view path) const;

 private:
  bool match(std::string_view path, bool below) const;

  std::vector<std::string> names_;
  CaseRule rule_;
};

}  // namespace kelvarin
