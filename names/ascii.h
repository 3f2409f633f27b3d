// ASCII case folding: the game's OS ignores case in names, and only ASCII
// letters are folded, since how it folds other letters depends on its own
// tables.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace kelvarin {

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string fold_case(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = ascii_lower(c);
  return folded;
}

inline bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace kelvarin
