// Checked output, and sizes for people.
#include "brq/text_output.h"

#include <cstdio>

#include "platform/process.h"

namespace kelvarin::brq {

void TextOutput::add(std::string_view text) {
  if (failure_.ok()) failure_ = platform::write_stream(streams_.out, text);
}

bool TextOutput::finish() {
  if (failure_.ok()) failure_ = platform::flush_stream(streams_.out);
  if (failure_.ok() || platform::reader_gone(failure_)) return true;
  print(streams_.err, error_line("Unable to write to standard output: " + cause_of(failure_)));
  return false;
}

std::string human_size(std::uint64_t bytes) {
  static constexpr const char kUnits[] = "KMGTPE";
  if (bytes < 1024) return std::to_string(bytes);
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while ((value /= 1024.0) >= 1024.0 && unit + 1 < sizeof kUnits - 1) ++unit;
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f%c" : "%.0f%c", value, kUnits[unit]);
  return text;
}

std::string entries_text(std::uint64_t entries) {
  if (entries == 0) return " (empty)";
  return " (" + std::to_string(entries) + (entries == 1 ? " entry)" : " entries)");
}

}  // namespace kelvarin::brq
