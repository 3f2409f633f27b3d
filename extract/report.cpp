// Output lines of the extraction.
#include "extract/report.h"

#include <charconv>

namespace kelvarin {

void format_file_line(const EntryVisit& file, std::int32_t size, std::string& line) {
  static constexpr std::string_view kGap = "      FileSize: ";
  char digits[16];
  char* digits_end = std::to_chars(digits, digits + sizeof digits, size).ptr;
  line.clear();
  append_printed_path(line, file);
  line += kGap;
  line.append(digits, static_cast<std::size_t>(digits_end - digits));
  line += '\n';
}

std::string one_line(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return line;
}

std::string error_line(std::string_view message) { return "ERROR: " + one_line(message) + "\n"; }

std::string inside_count(std::uint64_t count) {
  if (count == 0) return {};
  return count == 1 ? "; the 1 entry inside it is skipped"
                    : "; the " + std::to_string(count) + " entries inside it are skipped";
}

std::string skipped_entry_message(const EntryVisit& visit, const std::string& cause,
                                  std::uint64_t inside) {
  std::string where;
  append_printed_path(where, visit);
  if (visit.name_readable) {
    where = ", " + where;
  } else {
    where = " in " + (where.empty() ? std::string("the top level") : where);
  }
  return "Skipping entry " + std::to_string(visit.entry) + where + ": " + cause + inside_count(inside);
}

}  // namespace kelvarin
