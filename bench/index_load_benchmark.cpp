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

#include "archive/archive_writer.h"
#include "archive/index_loader.h"

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
  ArchiveLayout layout = lay_out(top_level);
  fs::path path = scratch.path / (std::to_string(entries) + ".brq");
  std::string error = layout.error;
  if (error.empty() && !write_archive_file(layout, path, error)) path.clear();
  if (!error.empty()) std::fprintf(stderr, "index_load_benchmark: %s\n", error.c_str());
  return made.emplace(entries, path).first->second;
}

template <typename T>
double bytes_of(const std::vector<T>& table) {
  return static_cast<double>(table.capacity() * sizeof(T));
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
    ExtractState state;
    state.archive_path = path.string();
    if (!platform::open_archive(platform::native_path(state.archive_path), state.archive).ok()) {
      bench.SkipWithError("the archive could not be opened");
      return;
    }
    std::string error;
    if (!load_index(state, error)) {
      bench.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(state.node_table.data());
    kept_bytes = bytes_of(state.entry_table) + bytes_of(state.node_table) +
                 bytes_of(state.size_table) + bytes_of(state.offset_table) +
                 bytes_of(state.name_pool);
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
