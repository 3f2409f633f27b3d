// make_seeds FOLDER: writes the seed archives into FOLDER, one file each,
// replacing whatever FOLDER held.
// The build runs it to make the fuzzer's starting corpus.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/seed_archives.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 64;
  }
  const std::filesystem::path folder = argv[1];
  // Made afresh, so seeds that are no longer generated don't linger.
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const kelvarin::fuzz::SeedArchive& seed : kelvarin::fuzz::seed_archives()) {
    std::ofstream out(folder / (seed.name + ".brq"), std::ios::binary | std::ios::trunc);
    out.write(seed.bytes.data(), static_cast<std::streamsize>(seed.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "make_seeds: unable to write %s\n", seed.name.c_str());
      return 1;
    }
  }
  return 0;
}
