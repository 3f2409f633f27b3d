// Scratch files, archives, trees and the programs run in this process.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "brq/run_brq.h"
#include "cli/run_extract.h"
#include "messages/entry_messages.h"

namespace kelvarin::testing {

const bool kOnWindows =
#ifdef _WIN32
    true;
#else
    false;
#endif

const std::string kBanner =
    "Kelvarin File System Extracter v1.0 by Dunmarrow\n"
    "Email: dunmarrow@example.com\n\n";

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = fs::temp_directory_path() /
          ("kelvarin-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path utf8_path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

fs::path long_form(const fs::path& path) {
  return kOnWindows ? fs::path(L"\\\\?\\" + fs::absolute(path).wstring()) : path;
}

void remove_upwards(const fs::path& deepest, const fs::path& stop) {
  for (fs::path level = deepest; level != stop && level.has_relative_path(); level = level.parent_path()) {
    std::error_code error;
    fs::remove(long_form(level), error);
    EXPECT_FALSE(error) << "can't remove " << level << ": " << error.message();
  }
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "can't write " << path;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

Tree snapshot(const fs::path& root) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::u8string generic = fs::relative(item.path(), root).generic_u8string();
    tree[std::string(generic.begin(), generic.end())] = item.is_directory() ? "<dir>" : read_file(item.path());
  }
  return tree;
}

void make_tree(const fs::path& root, const Tree& tree) {
  fs::create_directories(root);
  for (const auto& [path, bytes] : tree) {
    if (bytes == "<dir>") {
      fs::create_directories(root / utf8_path(path));
    } else {
      fs::create_directories((root / utf8_path(path)).parent_path());
      write_file(root / utf8_path(path), bytes);
    }
  }
}

fs::path write_archive(const fs::path& path, const std::vector<SourceNode>& top_level,
                       const WriterOptions& options) {
  Result<ArchiveLayout> layout = lay_out(top_level, options);
  EXPECT_TRUE(layout.ok()) << layout.error().cause();
  if (!layout.ok()) return path;
  return write_layout(path, layout.value());
}

fs::path write_layout(const fs::path& path, const ArchiveLayout& layout) {
  write_file(path, archive_bytes(layout));
  return path;
}

namespace {

// `program` and `args` as a C argv, over `words`, which must outlive it.
std::vector<char*> argv_of(const char* program, const std::vector<std::string>& args,
                           std::vector<std::string>& words) {
  words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// `run` given an argv of `program` and `args`, and two files for its
// streams (not std::tmpfile(): on Windows it writes to the drive's root).
RunResult capture(const char* program, const std::vector<std::string>& args,
                  const std::function<int(int, char**, std::FILE*, std::FILE*)>& run) {
  std::vector<std::string> words;
  std::vector<char*> argv = argv_of(program, args, words);
  TempDir scratch;
  RunResult result;
  std::FILE* out = std::fopen((scratch / "out").string().c_str(), "wb");
  std::FILE* err = std::fopen((scratch / "err").string().c_str(), "wb");
  EXPECT_TRUE(out != nullptr && err != nullptr);
  result.status = run(static_cast<int>(words.size()), argv.data(), out, err);
  std::fclose(out);
  std::fclose(err);
  result.out = read_file(scratch / "out");
  result.err = read_file(scratch / "err");
  return result;
}

}  // namespace

int run_kelvarin(const std::vector<std::string>& args, std::FILE* out) {
  std::vector<std::string> words;
  std::vector<char*> argv = argv_of("Kelvarin_Extract", args, words);
  return run_extract(static_cast<int>(words.size()), argv.data(), out);
}

RunResult kelvarin(const std::vector<std::string>& args) {
  return capture("Kelvarin_Extract", args,
                 [](int argc, char** argv, std::FILE* out, std::FILE*) { return run_extract(argc, argv, out); });
}

Tree kelvarin_tree(const fs::path& archive, const fs::path& out) {
  const RunResult run = kelvarin({"e", utf8(archive), utf8(out)});
  Tree tree = snapshot(out);
  if (run.status != 0) tree["<status>"] = std::to_string(run.status) + "\n" + run.out;
  return tree;
}

RunResult brq(const std::vector<std::string>& args) {
  return capture("brq", args, [](int argc, char** argv, std::FILE* out, std::FILE* err) {
    return brq::run_brq(argc, argv, {out, err});
  });
}

Extracted extract_with(const fs::path& archive, const fs::path& destination,
                       const std::function<void(const EntryVisit&)>& on_file,
                       const std::function<void()>& before, platform::FileSystem* files, unsigned jobs,
                       const OrderedPool::StartThread& start) {
  struct Collector final : ExtractionLines {
    Collector(const ArchiveIndex& index, const std::string& destination, std::string& lines,
              const std::function<void(const EntryVisit&)>& on_file)
        : ExtractionLines(index, destination, PathForm::printed), lines(lines), on_file(on_file) {}
    void file(const EntryVisit& file, std::int32_t size) override {
      std::string path;
      append_printed_path(path, file);
      lines += file_line(path, size);
      if (on_file) on_file(file);
    }
    void error(std::string_view line) override { lines += line; }
    void fewer_workers(unsigned asked, unsigned started) override {
      lines += "<" + std::to_string(started) + " of " + std::to_string(asked) + " workers>\n";
    }
    std::string& lines;
    const std::function<void(const EntryVisit&)>& on_file;
  };
  Extracted result;
  const OpenedIndex index = ArchiveIndex::open(utf8(archive));
  if (!index.ok()) {
    result.lines = error_line(archive_problem(index));
    return result;
  }
  if (before) before();
  Collector collector(index.value(), utf8(destination), result.lines, on_file);
  ExtractOptions options{utf8(destination)};
  options.file_system = files;
  options.jobs = jobs;
  options.start_thread = start;
  Destination opened = open_destination(options);
  Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, opened.case_rule);
  EXPECT_TRUE(plan.ok());
  result.summary = extract(index.value(), plan.value(), std::move(opened), options, collector);
  return result;
}

std::vector<std::string> strays(const fs::path& root, const std::string& inside,
                                const std::vector<std::string>& expected) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (relative == inside) {
      it.disable_recursion_pending();
      continue;
    }
    bool known = inside.rfind(relative + "/", 0) == 0;
    for (const std::string& name : expected) known = known || relative == name;
    if (!known) found.push_back(relative);
  }
  return found;
}

std::string file_line(const std::string& path, long size) {
  return path + "      FileSize: " + std::to_string(size) + "\n";
}

int count_lines(const std::string& text, const std::string& prefix) {
  int count = 0;
  for (std::size_t start = 0; start < text.size();) {
    if (text.compare(start, prefix.size(), prefix) == 0) ++count;
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return count;
}

}  // namespace kelvarin::testing
