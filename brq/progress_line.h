// The progress line of a long extraction: files and bytes done and the
// rate, redrawn in place on a terminal a few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvarin::brq {

class ProgressLine {
 public:
  // Draws nothing unless `enabled`; runs shorter than a second never show.
  ProgressLine(std::FILE* stream, bool enabled);

  // A file begins: the ones before it are done.
  void file_started(std::uint64_t size);

  // Takes the line off the screen, so that a message can be printed; the
  // next update draws it again.
  void clear();

  // Every file is done: the last state stays on the screen, if shown at all.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void draw(Clock::time_point now);

  std::FILE* stream_;
  bool enabled_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  std::uint64_t files_done_ = 0;
  std::uint64_t bytes_done_ = 0;
  std::uint64_t files_started_ = 0;
  std::uint64_t current_size_ = 0;
  std::size_t shown_length_ = 0;  // of the line on the screen; 0 when none is
  bool ever_shown_ = false;
};

// "1234 files, 56.7 MiB, 89.0 MiB/s"
std::string progress_text(std::uint64_t files, std::uint64_t bytes, double seconds);

}  // namespace kelvarin::brq
