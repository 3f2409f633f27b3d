// The libFuzzer target: every input is an archive to extract. A broken
// check aborts, so libFuzzer keeps the input as a crash.
#include <cstdio>
#include <cstdlib>

#include "fuzz/extract_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string problem = kelvarin::fuzz::extract_one_input(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "extract_fuzzer: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
