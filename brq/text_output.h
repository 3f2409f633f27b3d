// How a brq command writes its results to standard output: each write
// checked, so that output that doesn't arrive (a full disk, a closed file)
// ends the run with a line on standard error instead of a success. A
// reader that went away (a closed pipe) ends it quietly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "brq/commands.h"
#include "platform/error.h"

namespace kelvarin::brq {

class TextOutput {
 public:
  explicit TextOutput(const Streams& streams) : streams_(streams) {}

  // Writes `text` (through the stream's buffer), unless a write failed.
  void add(std::string_view text);
  // Flushes the stream. False, once said on standard error, when the
  // output did not arrive.
  bool finish();

 private:
  const Streams& streams_;
  Error failure_;
};

// " (97 entries)", " (1 entry)", " (empty)": what a folder on one side
// only holds, after its path.
std::string entries_text(std::uint64_t entries);

// "1023", "1.5K", "12M": powers of 1024, as ls -h and du -h print them.
std::string human_size(std::uint64_t bytes);

}  // namespace kelvarin::brq
