// Small, well-formed and deliberately awkward archives made with the archive
// writer: the fuzzer's starting corpus, and inputs the replay test runs too.
#pragma once

#include <string>
#include <vector>

namespace kelvarin::fuzz {

struct SeedArchive {
  std::string name;   // a file name for the corpus
  std::string bytes;  // the whole archive
};

std::vector<SeedArchive> seed_archives();

}  // namespace kelvarin::fuzz
