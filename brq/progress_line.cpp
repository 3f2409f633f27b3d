// Progress drawing: a carriage return and the new text, padded over what
// was there before; no terminal control sequences.
#include "brq/progress_line.h"

#include "brq/text_output.h"

#include <algorithm>

namespace kelvarin::brq {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

// "0:07", "12:34", "3:02:01".
std::string duration_text(double seconds) {
  const auto total = static_cast<std::uint64_t>(std::min(seconds, 1e9));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(total / 3600),
                  static_cast<unsigned long long>(total / 60 % 60),
                  static_cast<unsigned long long>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                  static_cast<unsigned long long>(total % 60));
  }
  return text;
}

}  // namespace

bool progress_enabled(ProgressChoice choice, bool err_is_terminal, bool results_on_terminal) {
  switch (choice) {
    case ProgressChoice::always:
      return true;
    case ProgressChoice::never:
      return false;
    case ProgressChoice::automatic:
      break;
  }
  return err_is_terminal && !results_on_terminal;
}

std::string progress_text(std::uint64_t files, std::uint64_t bytes, double seconds,
                          ProgressTotals totals) {
  const bool known = totals.files > 0;
  std::string text = std::to_string(files);
  if (known) text += " of " + std::to_string(totals.files);
  text += (known ? totals.files : files) == 1 ? " file, " : " files, ";
  text += human_size(bytes);
  if (known) {
    text += " of " + human_size(totals.bytes);
    // By bytes, or by files where there are none.
    const double share = totals.bytes > 0 ? static_cast<double>(bytes) / totals.bytes
                                          : static_cast<double>(files) / totals.files;
    text += " (" + std::to_string(static_cast<int>(std::min(share, 1.0) * 100)) + "%)";
  }
  if (seconds > 0) {
    const double rate = static_cast<double>(bytes) / seconds;
    text += ", " + human_size(static_cast<std::uint64_t>(rate)) + "/s";
    if (known && rate > 0 && bytes <= totals.bytes) {
      text += ", " + duration_text(static_cast<double>(totals.bytes - bytes) / rate) + " left";
    }
  }
  return text;
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled, ProgressTotals totals,
                           bool show_last)
    : stream_(stream), enabled_(enabled), show_last_(show_last), totals_(totals),
      start_(Clock::now()), last_draw_(start_) {}

void ProgressLine::file_started(std::uint64_t size) {
  if (files_started_ > 0) {
    ++files_done_;
    bytes_done_ += current_size_;
  }
  ++files_started_;
  current_size_ = size;
  current_done_ = 0;
  update();
}

void ProgressLine::drop(std::uint64_t size) {
  if (totals_.files == 0) return;
  // The last file of the totals gone: better no totals than "of 0".
  totals_.files = totals_.files > 1 ? totals_.files - 1 : 0;
  totals_.bytes -= std::min(totals_.bytes, size);
}

void ProgressLine::advance(std::uint64_t bytes) {
  current_done_ = std::min(current_size_, current_done_ + bytes);
  update();
}

void ProgressLine::update() {
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
    current_done_ = 0;
  }
  if (!enabled_ || (!ever_shown_ && !show_last_)) return;
  draw(Clock::now());
  std::fputc('\n', stream_);
  shown_length_ = 0;
}

void ProgressLine::draw(Clock::time_point now) {
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::string text = progress_text(files_done_, bytes_done_ + current_done_, seconds, totals_);
  std::size_t length = text.size();
  if (length < shown_length_) text.append(shown_length_ - length, ' ');
  std::fprintf(stream_, "\r%s", text.c_str());
  std::fflush(stream_);
  shown_length_ = length;
  last_draw_ = now;
  ever_shown_ = true;
}

}  // namespace kelvarin::brq
