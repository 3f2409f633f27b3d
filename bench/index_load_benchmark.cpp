// How loading an archive's index scales: reading, checking and building the
// node tree of archives from 125,000 to 2,000,000 entries, in CPU time, and
// the memory the loaded index keeps per entry. Built when Google Benchmark
// is installed; run ./build/bench/index_load_benchmark.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <fstream>

#include "archive/archive_index.h"
#include "archive/archive_writer.h"

namespace kelvarin {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kFilesPerFolder = 1000;

// A scratch folder for the archives, removed when the program ends.
struct Scratch {
  fs::path path = fs::temp_directory_path() /
                  ("kelvarin-index-bench-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  Scratch() { fs::create_directories(path); }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// An archive of `entries` entries: the root, folders of 1,000 one-byte
// files each, names like those of a game's data ("d00042", "f0517.dat").
// Made once per size.
const fs::path& archive_of(std::int64_t entries) {
  static Scratch scratch;
  static std::map<std::int64_t, fs::path> made;
  auto found = made.find(entries);
  if (found != made.end()) return found->second;

  SourceNode root = source_folder("");
  std::int64_t left = entries - 1;
  for (int folder = 0; left > 0; ++folder) {
    char name[16];
    std::snprintf(name, sizeof name, "d%05d", folder);
    SourceNode& dir = root.children.emplace_back(source_folder(name));
    --left;
    for (std::int64_t file = 0; file < kFilesPerFolder && left > 0; ++file, --left) {
      std::snprintf(name, sizeof name, "f%04d.dat", static_cast<int>(file));
      dir.children.push_back(source_file(name, "x"));
    }
  }
  std::vector<SourceNode> top_level;
  top_level.push_back(std::move(root));
  Result<ArchiveLayout> layout = lay_out(top_level);
  fs::path path = scratch.path / (std::to_string(entries) + ".brq");
  if (layout.ok()) {
    std::ofstream(path, std::ios::binary) << archive_bytes(layout.value());
  } else {
    std::fprintf(stderr, "index_load_benchmark: %s\n", layout.error().cause().c_str());
    path.clear();
  }
  return made.emplace(entries, path).first->second;
}

void BM_LoadIndex(benchmark::State& bench) {
  const std::int64_t entries = bench.range(0);
  const fs::path& path = archive_of(entries);
  if (path.empty()) {
    bench.SkipWithError("the archive could not be made");
    return;
  }
  double kept_bytes = 0;
  for (auto _ : bench) {
    Result<ArchiveIndex> index = ArchiveIndex::open(path.string());
    if (!index.ok()) {
      bench.SkipWithError("the index could not be loaded");
      return;
    }
    benchmark::DoNotOptimize(&index.value().node(0));
    kept_bytes = static_cast<double>(index.value().table_bytes());
  }
  bench.counters["bytes_per_entry"] = kept_bytes / static_cast<double>(entries);
  bench.counters["entries"] = benchmark::Counter(static_cast<double>(entries),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LoadIndex)
    ->Arg(125'000)
    ->Arg(250'000)
    ->Arg(500'000)
    ->Arg(1'000'000)
    ->Arg(2'000'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvarin

BENCHMARK_MAIN();
