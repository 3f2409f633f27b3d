// The progress line of a long run: files and bytes done of the run's
// totals, the rate and the time left, redrawn in place on a terminal a few
// times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "brq/command_line.h"
#include "packing/archive_file.h"

namespace kelvarin::brq {

// Whether a run draws its progress line: by default only on a terminal
// (`err_is_terminal`) that the run's results don't reach as well
// (`results_on_terminal`), where the two would scramble each other.
bool progress_enabled(ProgressChoice choice, bool err_is_terminal, bool results_on_terminal);

class ProgressLine final : public WriteProgress {
 public:
  // Draws nothing unless `enabled`; runs shorter than a second show only
  // their last state, and only with `show_last` (the user asked for it).
  ProgressLine(std::FILE* stream, bool enabled, ProgressTotals totals = {},
               bool show_last = false);

  // A file begins: the ones before it are done.
  void file_started(std::uint64_t size) override;

  // A file of the totals won't be written after all.
  void drop(std::uint64_t size);

  // `bytes` more of the current file are done.
  void advance(std::uint64_t bytes) override;

  // Takes the line off the screen, so that a message can be printed; the
  // next update draws it again.
  void clear();

  // Every file is done: the last state stays on the screen, if shown at all.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void update();
  void draw(Clock::time_point now);

  std::FILE* stream_;
  bool enabled_;
  bool show_last_;
  ProgressTotals totals_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  std::uint64_t files_done_ = 0;
  std::uint64_t bytes_done_ = 0;  // of the files done
  std::uint64_t files_started_ = 0;
  std::uint64_t current_size_ = 0;
  std::uint64_t current_done_ = 0;
  std::size_t shown_length_ = 0;  // of the line on the screen; 0 when none is
  bool ever_shown_ = false;
};

// "12 of 40 files, 57M of 200M (28%), 89M/s, 0:02 left", or without
// totals "12 files, 57M, 89M/s".
std::string progress_text(std::uint64_t files, std::uint64_t bytes, double seconds,
                          ProgressTotals totals = {});

}  // namespace kelvarin::brq
