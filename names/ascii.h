// ASCII case folding, and the rule that says whether names differing only
// in case are one name. Windows takes them for one, and so does a file
// system that ignores case under any OS (FAT, exFAT, NTFS, ext4 with
// casefold). Only ASCII letters are folded, since how such a system folds
// other letters depends on its own tables.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace kelvarin {

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string fold_case(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = ascii_lower(c);
  return folded;
}

inline bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

// Whether names that differ only in case are one name: in a folder of a
// destination that ignores case, in paths matched with --ignore-case, in a
// folder to be packed for Windows. Everything that compares names under
// such a rule asks it.
class CaseRule {
 public:
  static constexpr CaseRule exact() { return CaseRule(false); }
  static constexpr CaseRule folding() { return CaseRule(true); }
  constexpr explicit CaseRule(bool folds) : folds_(folds) {}

  constexpr bool folds() const { return folds_; }
  char fold(char c) const { return folds_ ? ascii_lower(c) : c; }
  bool same(std::string_view a, std::string_view b) const { return folds_ ? same_ignoring_case(a, b) : a == b; }
  // Equal for two names exactly where they are one name.
  std::string key(std::string_view name) const { return folds_ ? fold_case(name) : std::string(name); }

  constexpr bool operator==(const CaseRule&) const = default;

 private:
  bool folds_;
};

}  // namespace kelvarin
