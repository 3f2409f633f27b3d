// Pattern matching: a '*' at each level (within a name, and "**" over
// names) is matched with one backtracking point, the classic way, so no
// pattern takes more than the product of the two lengths.
#include "names/entry_pattern.h"

#include <algorithm>
#include <cstdint>

#include "names/utf8.h"

namespace kelvarin {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

char32_t fold(char32_t c, CaseRule rule) {
  return c < 0x80 ? static_cast<char32_t>(static_cast<unsigned char>(rule.fold(static_cast<char>(c)))) : c;
}

// A class "[...]" at `at` in `pattern` against the character `c`. Returns
// the class's length, or 0 when it has no closing ']' (the '[' then stands
// for itself).
std::size_t match_class(std::string_view pattern, std::size_t at, char32_t c, CaseRule rule, bool& matched) {
  std::size_t i = at + 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  c = fold(c, rule);
  bool in = false;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != ']' || first)) {
    first = false;
    std::size_t length = 0;
    char32_t low = fold(utf8_character(pattern, i, length), rule);
    i += length;
    char32_t high = low;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      high = fold(utf8_character(pattern, i + 1, length), rule);
      i += 1 + length;
    }
    if (c >= low && c <= high) in = true;
  }
  if (i >= pattern.size()) return 0;
  matched = in != negated;
  return i + 1 - at;
}

// Whether the pattern's item at `p` ('?', a class or a byte) matches the
// character at `n`, and how far each then moves.
bool match_one(std::string_view pattern, std::size_t p, std::string_view name, std::size_t n,
               CaseRule rule, std::size_t& pattern_step, std::size_t& name_step) {
  std::size_t length = 1;
  const char32_t c = utf8_character(name, n, length);
  if (pattern[p] == '?') {
    pattern_step = 1;
    name_step = length;
    return true;
  }
  if (pattern[p] == '[') {
    bool in = false;
    if (const std::size_t class_length = match_class(pattern, p, c, rule, in)) {
      pattern_step = class_length;
      name_step = length;
      return in;
    }
  }
  pattern_step = 1;
  name_step = 1;
  return rule.fold(pattern[p]) == rule.fold(name[n]);
}

std::vector<std::string_view> names_of(std::string_view path) {
  std::vector<std::string_view> names;
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

std::string normalise_entry_path(std::string_view path) {
  std::string normal;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
    if (end > start && path.substr(start, end - start) != ".") {
      if (!normal.empty()) normal += '/';
      normal.append(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return normal;
}

bool is_name_pattern(std::string_view text) {
  return text.find_first_of("/\\") == std::string_view::npos;
}

bool has_wildcards(std::string_view text) {
  return text.find_first_of("*?[") != std::string_view::npos;
}

bool match_name(std::string_view pattern, std::string_view name, CaseRule rule) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star_p = kNone;  // just after the last '*' met
  std::size_t star_n = 0;      // where the name stood when it was met
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star_p = ++p;
      star_n = n;
      continue;
    }
    std::size_t pattern_step = 0;
    std::size_t name_step = 0;
    if (p < pattern.size() && match_one(pattern, p, name, n, rule, pattern_step, name_step)) {
      p += pattern_step;
      n += name_step;
      continue;
    }
    if (star_p == kNone) return false;
    // The last '*' takes one more character.
    utf8_character(name, star_n, name_step);
    star_n += name_step;
    n = star_n;
    p = star_p;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PathPattern::PathPattern(std::string_view text, CaseRule rule) : rule_(rule) {
  const std::string normal = normalise_entry_path(text);
  for (std::string_view name : names_of(normal)) names_.emplace_back(name);
}

bool PathPattern::matches(std::string_view path) const { return match(path, false); }

bool PathPattern::may_match_below(std::string_view path) const { return match(path, true); }

bool PathPattern::match(std::string_view path, bool below) const {
  const std::vector<std::string_view> names = names_of(path);
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star_p = kNone;
  std::size_t star_n = 0;
  while (n < names.size()) {
    if (p < names_.size() && names_[p] == "**") {
      star_p = ++p;
      star_n = n;
      continue;
    }
    if (p < names_.size() && match_name(names_[p], names[n], rule_)) {
      ++p;
      ++n;
      continue;
    }
    if (star_p == kNone) return false;
    n = ++star_n;
    p = star_p;
  }
  // Below the path, the names still to match meet names still to come; a
  // "**" met on the way takes any number of them.
  if (below) return p < names_.size() || star_p != kNone;
  while (p < names_.size() && names_[p] == "**") ++p;
  return p == names_.size();
}

}  // namespace kelvarin
