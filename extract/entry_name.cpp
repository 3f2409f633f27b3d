// Name checks: the guard that keeps every output inside the destination
// and every archive entry apart from the program's own temporary names.
#include "extract/entry_name.h"

#include <algorithm>

#include "platform/platform.h"

namespace kelvarin {
namespace {

constexpr std::string_view kTemporaryPrefix = ".kelvarin-";
constexpr std::string_view kFileSuffix = ".part";
constexpr std::string_view kFolderSuffix = ".partdir";
constexpr std::size_t kHashDigits = 16;

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view text, std::string_view lower_case) {
  return text.size() == lower_case.size() &&
         std::equal(text.begin(), text.end(), lower_case.begin(),
                    [](char a, char b) { return lower(a) == b; });
}

bool is_hex_digit(char c) {
  c = lower(c);
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

TemporaryName::TemporaryName(std::string_view final_name, bool folder) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::uint64_t hash = fnv1a(final_name);
  char* at = std::copy(kTemporaryPrefix.begin(), kTemporaryPrefix.end(), text_);
  for (std::size_t digit = 0; digit < kHashDigits; ++digit) {
    *at++ = kHex[(hash >> (4 * (kHashDigits - 1 - digit))) & 0xF];
  }
  const std::string_view suffix = folder ? kFolderSuffix : kFileSuffix;
  at = std::copy(suffix.begin(), suffix.end(), at);
  length_ = static_cast<std::size_t>(at - text_);
}

bool is_temporary_name(std::string_view name) {
  const std::size_t stem = kTemporaryPrefix.size() + kHashDigits;
  if (name.size() <= stem || !same_ignoring_case(name.substr(0, kTemporaryPrefix.size()), kTemporaryPrefix)) {
    return false;
  }
  const std::string_view digits = name.substr(kTemporaryPrefix.size(), kHashDigits);
  const std::string_view suffix = name.substr(stem);
  return std::all_of(digits.begin(), digits.end(), is_hex_digit) &&
         (same_ignoring_case(suffix, kFileSuffix) || same_ignoring_case(suffix, kFolderSuffix));
}

const char* unsafe_name_reason(std::string_view name, bool is_file) {
  if (name == "." || name == "..") return "the name would leave its folder";
  // A plain loop: find_first_of calls memchr once per character.
  for (char c : name) {
    if (c == '/' || c == '\\') return "the name holds a path separator";
  }
  // An empty folder name adds nothing to the path and is the usual root; an
  // empty file name would stand for the folder it is in.
  if (name.empty()) return is_file ? "a file needs a name" : nullptr;
  // On Linux an archive may name anything but the above, so a temporary
  // name can't be kept out of its reach: an entry of that name would be
  // removed as a leftover, or written over, with the run reporting success.
  if (name[0] == '.' && is_temporary_name(name)) {
    return "the name is one Kelvarin_Extract keeps for its unfinished files";
  }
  return platform::unusable_name_reason(name);
}

Error check_entry(const ArchiveIndex& index, const EntryVisit& visit) {
  if (const char* reason = visit.name_readable ? unsafe_name_reason(visit.name, !visit.is_folder)
                                               : nullptr) {
    return Error::because(reason);
  }
  if (!visit.name_readable || (!visit.is_folder && index.node(visit.entry).problem != EntryProblem::none)) {
    return Error::because(index.describe_problem(visit.entry));
  }
  if (visit.is_folder && visit.depth > kMaxFolderDepth) {
    return Error::because("it lies inside " + std::to_string(visit.depth) + " folders, more than the " +
                          std::to_string(kMaxFolderDepth) + " a tree may nest");
  }
  return {};
}

}  // namespace kelvarin
