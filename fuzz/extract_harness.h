// One fuzzing input taken through a whole extraction, and the checks that
// must hold whatever the input is. Shared by the libFuzzer target and the
// replay of fuzz/regressions/ in the test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvarin::fuzz {

// Writes `data` as an archive into a sandbox folder of this process, runs a
// complete extraction of it into a destination inside the sandbox, then a
// second one over the first's output, checks each outcome and removes the
// destination again. Returns an empty string
// when every check held, else what went wrong. Checked: nothing appeared or
// changed in the sandbox outside the destination; an unusable archive
// created nothing; the summary agrees with what was reported (complete
// exactly when no error line came, every announced file written when
// complete); every error line is one line; no link and no temporary file
// or folder was left in the destination. Between the two runs, the input
// is opened through the C API from memory: it opens exactly when the index
// is usable, every failure leaves one line of message, and each file the
// listing says is written reads as the extraction wrote it, also by a
// handle that plans only that file's path. Where the first extraction was
// complete, a copy of the input is edited through the C API (its last file
// removed, entries left out dropped): refused, the copy is unchanged; done,
// it is sound and extracts to the first extraction's tree without that
// file, with nothing left beside it.
std::string extract_one_input(const std::uint8_t* data, std::size_t size);

}  // namespace kelvarin::fuzz
