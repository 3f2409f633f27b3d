// Progress drawing: a carriage return and the new text, padded over what
// was there before; no terminal control sequences.
#include "brq/progress_line.h"

#include <iterator>

namespace kelvarin::brq {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

std::string human_bytes(double bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024.0 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

}  // namespace

std::string progress_text(std::uint64_t files, std::uint64_t bytes, double seconds) {
  std::string text = std::to_string(files) + (files == 1 ? " file, " : " files, ") +
                     human_bytes(static_cast<double>(bytes));
  if (seconds > 0) text += ", " + human_bytes(static_cast<double>(bytes) / seconds) + "/s";
  return text;
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled)
    : stream_(stream), enabled_(enabled), start_(Clock::now()), last_draw_(start_) {}

void ProgressLine::file_started(std::uint64_t size) {
  if (files_started_ > 0) {
    ++files_done_;
    bytes_done_ += current_size_;
  }
  ++files_started_;
  current_size_ = size;
  if (!enabled_) return;
  Clock::time_point now = Clock::now();
  if (now - start_ >= kQuietStart && (now - last_draw_ >= kRedrawEvery || shown_length_ == 0)) {
    draw(now);
  }
}

void ProgressLine::clear() {
  if (shown_length_ == 0) return;
  std::fprintf(stream_, "\r%*s\r", static_cast<int>(shown_length_), "");
  std::fflush(stream_);
  shown_length_ = 0;
}

void ProgressLine::finish() {
  if (files_started_ > 0) {
    files_done_ = files_started_;
    bytes_done_ += current_size_;
    files_started_ = 0;
    current_size_ = 0;
  }
  if (!enabled_ || !ever_shown_) return;
  draw(Clock::now());
  std::fputc('\n', stream_);
  shown_length_ = 0;
}

void ProgressLine::draw(Clock::time_point now) {
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::string text = progress_text(files_done_, bytes_done_, seconds);
  std::size_t length = text.size();
  if (length < shown_length_) text.append(shown_length_ - length, ' ');
  std::fprintf(stream_, "\r%s", text.c_str());
  std::fflush(stream_);
  shown_length_ = length;
  last_draw_ = now;
  ever_shown_ = true;
}

}  // namespace kelvarin::brq
