// Shared test fixtures.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "cli/run_extract.h"
#include "extract/report.h"

namespace kelvarin::testing {

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

fs::path utf8_path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

fs::path long_form(const fs::path& path) {
  if (!kOnWindows) return path;
  return fs::path(L"\\\\?\\" + fs::absolute(path).wstring());
}

void remove_upwards(const fs::path& deepest, const fs::path& stop) {
  for (fs::path level = deepest; level != stop && level.has_relative_path();
       level = level.parent_path()) {
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

std::string pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::u8string generic = fs::relative(item.path(), root).generic_u8string();
    std::string relative(generic.begin(), generic.end());
    tree[relative] = item.is_directory() ? "<dir>" : read_file(item.path());
  }
  return tree;
}

fs::path write_archive(const fs::path& path, const std::vector<SourceNode>& top_level,
                       const WriterOptions& options) {
  ArchiveLayout layout = lay_out(top_level, options);
  EXPECT_EQ(layout.error, "");
  return write_layout(path, layout);
}

fs::path write_layout(const fs::path& path, const ArchiveLayout& layout) {
  write_file(path, archive_bytes(layout));
  return path;
}

RunResult run_in_process(const std::vector<std::string>& args) {
  RunResult result;
  std::vector<std::string> words{"Kelvarin_Extract"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // Not std::tmpfile(): on Windows it makes its file in the drive's root,
  // which may not be writable.
  TempDir scratch;
  std::FILE* out = std::fopen((scratch / "output").string().c_str(), "w+b");
  if (out == nullptr) {
    ADD_FAILURE() << "no temporary file for the output";
    return result;
  }
  result.status = run_extract(static_cast<int>(words.size()), argv.data(), out);
  std::rewind(out);
  char buffer[1 << 14];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0) result.out.append(buffer, got);
  std::fclose(out);
  return result;
}

Extracted extract_with(const fs::path& archive, const fs::path& destination,
                       const std::function<void(const EntryVisit&)>& on_file,
                       const std::function<void()>& before) {
  class Collector final : public ExtractReporter {
   public:
    Collector(std::string& lines, const std::function<void(const EntryVisit&)>& on_file)
        : lines_(lines), on_file_(on_file) {}
    void file(const EntryVisit& file, std::int32_t size) override {
      std::string line;
      format_file_line(file, size, line);
      lines_ += line;
      if (on_file_) on_file_(file);
    }
    void error_line(std::string_view line) override { lines_ += line; }

   private:
    std::string& lines_;
    const std::function<void(const EntryVisit&)>& on_file_;
  };
  Extracted result;
  Result<ArchiveIndex> index = ArchiveIndex::open(utf8(archive));
  if (!index.ok()) {
    result.lines = error_line(index.error().cause());
    return result;
  }
  result.loaded = true;
  if (before) before();
  Collector collector(result.lines, on_file);
  result.summary = extract(index.value(), {utf8(destination)}, collector);
  return result;
}

std::vector<std::string> strays(const fs::path& root, const std::string& inside,
                                const std::vector<std::string>& expected) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (relative == inside) {
      it.disable_recursion_pending();
      continue;
    }
    bool known = false;
    for (const std::string& name : expected) known = known || relative == name;
    // The folders on the way down to `inside` are expected too.
    known = known || inside.rfind(relative + "/", 0) == 0;
    if (!known) found.push_back(relative);
  }
  return found;
}

const std::string kBanner =
    "Kelvarin File System Extracter v1.0 by Dunmarrow\n"
    "Email: dunmarrow@example.com\n\n";

const std::string kUsage =
    "Usage: Kelvarin_Extract.exe e <.brq file> <Destination Folder>\n\n"
    "  Example: Kelvarin_Extract.exe e \"C:\\Games\\Kelvarin\\data.brq\" \"C:\\Kelvarin DATA\"\n"
    "    Note: Don't include the \\ at the end of the folder, otherwise it wont work.\n\n\n";

std::string file_line(const std::string& path, long size) {
  return path + "      FileSize: " + std::to_string(size) + "\n";
}

int count_lines(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, prefix.size(), prefix) == 0) ++count;
    start = end + 1;
  }
  return count;
}

}  // namespace kelvarin::testing
