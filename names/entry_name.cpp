// Name checks: the guard that keeps every output inside the destination
// and every archive entry apart from the program's own temporary names.
#include "names/entry_name.h"

#include <algorithm>

#include "names/ascii.h"
#include "platform/files.h"

namespace kelvarin {
namespace {

constexpr std::string_view kTemporaryPrefix = ".kelvarin-";
constexpr std::string_view kFileSuffix = ".part";
constexpr std::string_view kFolderSuffix = ".partdir";
constexpr std::size_t kHashDigits = 16;

// Fixes a temporary name for each final name; not a table's hash, so what
// an archive could make collide costs nothing.
std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

bool is_hex_digit(char c) {
  c = ascii_lower(c);
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Windows opens a device instead of a file for these names, whatever
// follows the first dot and however they are written.
bool is_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (same_ignoring_case(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  std::string_view port = stem.substr(0, 3);
  if (!same_ignoring_case(port, "COM") && !same_ignoring_case(port, "LPT")) return false;
  std::string_view number = stem.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three count as digits here.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
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

NameProblem windows_name_problem(std::string_view name) {
  for (char c : name) {
    if (c == ':') return NameProblem::windows_stream;
    if (std::string_view("<>\"|?*").find(c) != std::string_view::npos) return NameProblem::windows_character;
  }
  if (is_device_name(name)) return NameProblem::windows_device;
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return NameProblem::windows_end;
  return NameProblem::none;
}

NameProblem name_problem(std::string_view name, bool is_file) {
  if (name == "." || name == "..") return NameProblem::leaves_folder;
  for (char c : name) {
    if (c == '/' || c == '\\') return NameProblem::separator;
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return NameProblem::control_character;
  }
  // An empty folder name adds nothing to the path and is the usual root; an
  // empty file name would stand for the folder it is in.
  if (name.empty()) return is_file ? NameProblem::no_file_name : NameProblem::none;
  // On Linux an archive may name anything but the above, so a temporary
  // name can't be kept out of its reach: an entry of that name would be
  // removed as a leftover, or written over, with the run reporting success.
  if (name[0] == '.' && is_temporary_name(name)) return NameProblem::temporary_name;
  return platform::kWindowsNames ? windows_name_problem(name) : NameProblem::none;
}

}  // namespace kelvarin
