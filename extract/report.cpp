// Output lines of the extraction.
#include "extract/report.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace kelvarin {

void print_text(ExtractState& state, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), state.out);
}

void print_file_line(ExtractState& state, std::string_view dir_path, std::string_view name,
                     std::int32_t size) {
  if (state.on_file) {
    state.on_file(dir_path, name, size);
    return;
  }
  static constexpr std::string_view kGap = "      FileSize: ";
  char digits[16];
  auto digits_end = std::to_chars(digits, digits + sizeof digits, size).ptr;
  const std::string_view number(digits, static_cast<std::size_t>(digits_end - digits));

  // One block and one call, since this runs once per file; a line too long
  // for the block goes out in pieces, the same bytes.
  char line[1024];
  if (dir_path.size() + name.size() + kGap.size() + number.size() + 1 > sizeof line) {
    print_text(state, dir_path);
    print_text(state, name);
    print_text(state, kGap);
    print_text(state, number);
    print_text(state, "\n");
    return;
  }
  char* at = std::copy(dir_path.begin(), dir_path.end(), line);
  at = std::copy(name.begin(), name.end(), at);
  at = std::copy(kGap.begin(), kGap.end(), at);
  at = std::copy(number.begin(), number.end(), at);
  *at++ = '\n';
  print_text(state, std::string_view(line, static_cast<std::size_t>(at - line)));
}

void report_error(ExtractState& state, std::string_view message) {
  state.had_failure = true;
  std::string line = "ERROR: ";
  line.reserve(line.size() + message.size() + 1);
  for (char c : message) {
    auto byte = static_cast<unsigned char>(c);
    line += (byte < 0x20 || byte == 0x7F) ? '?' : c;
  }
  line += '\n';
  if (state.on_error) {
    state.on_error(line);
    return;
  }
  print_text(state, line);
}

}  // namespace kelvarin
