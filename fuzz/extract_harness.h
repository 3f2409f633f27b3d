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
// changed in the sandbox outside the destination; the status is 0, 1 or 2;
// status 1 printed one "ERROR: " line and created nothing; status 2 printed
// an "ERROR: " line; no temporary file was left behind.
std::string extract_one_input(const std::uint8_t* data, std::size_t size);

}  // namespace kelvarin::fuzz
