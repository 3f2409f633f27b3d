// The C API's promises: a misuse or a failing callback is a kind on the
// handle, never a crash; a caller's reader and a path give the same
// archive; a caller that asks to stop is obeyed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "kelvarin.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

const fs::path kSample = fs::path(KELVARIN_SOURCE_DIR) / "examples" / "sample.brq";

// An archive in memory, read through the C reader; counts its closing.
struct Memory {
  std::string bytes;
  bool fail = false;
  int closed = 0;

  kelvarin_reader reader() {
    kelvarin_reader reader{};
    reader.user = this;
    reader.size = bytes.size();
    reader.read = [](void* user, std::uint64_t position, void* buffer, std::size_t count) -> std::int64_t {
      auto* memory = static_cast<Memory*>(user);
      if (memory->fail) return -1;
      // A few bytes at a time, as a network would give them.
      const std::size_t some = std::min<std::size_t>({count, 7, memory->bytes.size() - position});
      std::memcpy(buffer, memory->bytes.data() + position, some);
      return static_cast<std::int64_t>(some);
    };
    reader.close = [](void* user) { ++static_cast<Memory*>(user)->closed; };
    return reader;
  }
};

struct Handle {
  kelvarin_archive* archive = kelvarin_archive_new();
  ~Handle() { kelvarin_archive_free(archive); }
};

int stop_at_once(void*, const kelvarin_event*) { return 1; }
int stop_writing(void*, const void*, std::size_t) { return 1; }

struct Misuse {
  const char* what;
  bool open;  // on a handle with the sample open
  kelvarin_kind expected;
  std::function<kelvarin_kind(kelvarin_archive*)> call;
};

TEST(CApi, MisuseAndFailingCallbacksAreKindsOnTheHandle) {
  TempDir dir;
  char buffer[16];
  std::size_t done = 0;
  kelvarin_entry entry;
  kelvarin_check_result check{};
  const std::vector<Misuse> cases = {
      {"entry of no archive", false, KELVARIN_MISUSE, [&](auto* a) { return kelvarin_entry_at(a, 0, &entry); }},
      {"read of no archive", false, KELVARIN_MISUSE,
       [&](auto* a) { return kelvarin_read(a, "readme.txt", 0, buffer, 4, &done); }},
      {"extract of no archive", false, KELVARIN_MISUSE,
       [&](auto* a) { return kelvarin_extract(a, utf8(dir / "x").c_str(), nullptr); }},
      {"check of no archive", false, KELVARIN_MISUSE, [&](auto* a) { return kelvarin_check(a, &check); }},
      {"a path that is not UTF-8", false, KELVARIN_MISUSE, [](auto* a) { return kelvarin_open_path(a, "\xff\xfe.brq"); }},
      {"a null path", false, KELVARIN_MISUSE, [](auto* a) { return kelvarin_open_path(a, nullptr); }},
      {"a missing archive", false, KELVARIN_NOT_FOUND,
       [&](auto* a) { return kelvarin_open_path(a, utf8(dir / "none.brq").c_str()); }},
      {"not an archive", false, KELVARIN_BAD_ARCHIVE, [&](auto* a) {
         write_file(dir / "a.tar", std::string(600, 'x'));
         return kelvarin_open_path(a, utf8(dir / "a.tar").c_str());
       }},
      {"entry past the last", true, KELVARIN_MISUSE, [&](auto* a) { return kelvarin_entry_at(a, 1000, &entry); }},
      {"entry into null", true, KELVARIN_MISUSE, [](auto* a) { return kelvarin_entry_at(a, 0, nullptr); }},
      {"read past the end", true, KELVARIN_OK,
       [&](auto* a) { return kelvarin_read(a, "readme.txt", 1000, buffer, sizeof buffer, &done); }},
      {"read of a folder", true, KELVARIN_NOT_A_FILE,
       [&](auto* a) { return kelvarin_read(a, "maps", 0, buffer, sizeof buffer, &done); }},
      {"read of nothing", true, KELVARIN_NOT_FOUND,
       [&](auto* a) { return kelvarin_read(a, "maps/none", 0, buffer, sizeof buffer, &done); }},
      {"read into null", true, KELVARIN_MISUSE,
       [&](auto* a) { return kelvarin_read(a, "readme.txt", 0, nullptr, 4, &done); }},
      {"read without done", true, KELVARIN_MISUSE,
       [&](auto* a) { return kelvarin_read(a, "readme.txt", 0, buffer, 4, nullptr); }},
      {"read stopped", true, KELVARIN_STOPPED,
       [](auto* a) { return kelvarin_read_to(a, "readme.txt", stop_writing, nullptr); }},
      {"options without a size", true, KELVARIN_MISUSE, [&](auto* a) {
         kelvarin_extract_options options{};
         return kelvarin_extract(a, utf8(dir / "x").c_str(), &options);
       }},
      {"a null pattern", true, KELVARIN_MISUSE, [&](auto* a) {
         kelvarin_extract_options options;
         kelvarin_extract_options_init(&options);
         options.path_count = 1;
         return kelvarin_extract(a, utf8(dir / "x").c_str(), &options);
       }},
      {"extraction stopped", true, KELVARIN_STOPPED, [&](auto* a) {
         kelvarin_extract_options options;
         kelvarin_extract_options_init(&options);
         options.on_event = stop_at_once;
         options.jobs = 1;  // nothing in flight when the stop comes
         return kelvarin_extract(a, utf8(dir / "stopped").c_str(), &options);
       }},
      {"a path that names nothing", true, KELVARIN_PARTIAL, [&](auto* a) {
         const char* paths[] = {"maps", "none/*.map"};
         kelvarin_extract_options options;
         kelvarin_extract_options_init(&options);
         options.paths = paths;
         options.path_count = 2;
         return kelvarin_extract(a, utf8(dir / "some").c_str(), &options);
       }},
      {"a destination a file holds", true, KELVARIN_NOT_A_FOLDER, [&](auto* a) {
         write_file(dir / "file", "x");
         return kelvarin_extract(a, utf8(dir / "file").c_str(), nullptr);
       }},
      {"find of nothing", true, KELVARIN_NOT_FOUND, [](auto* a) {
         std::size_t position = 1;
         const kelvarin_kind found = kelvarin_find(a, "maps/none", &position);
         return position == 0 ? found : KELVARIN_OK;
       }},
      {"find into null", true, KELVARIN_MISUSE, [](auto* a) { return kelvarin_find(a, "maps", nullptr); }},
      {"a destination whose parent is missing", true, KELVARIN_NOT_FOUND,
       [&](auto* a) { return kelvarin_extract(a, utf8(dir / "no" / "out").c_str(), nullptr); }},
      {"a move of nothing", true, KELVARIN_NOT_FOUND,
       [](auto* a) { return kelvarin_move(a, "none", "other", nullptr); }},
      {"a pack over a folder", false, KELVARIN_NAME_TAKEN, [&](auto* a) {
         return kelvarin_pack(a, utf8(dir.path()).c_str(), KELVARIN_SOURCE_DIR "/examples/sample", nullptr, 0,
                              nullptr);
       }},
      {"check without a size", true, KELVARIN_MISUSE, [](auto* a) {
         kelvarin_check_result result{};
         return kelvarin_check(a, &result);
       }},
  };
  for (const Misuse& misuse : cases) {
    Handle handle;
    if (misuse.open) {
      ASSERT_EQ(kelvarin_open_path(handle.archive, utf8(kSample).c_str()), KELVARIN_OK);
    }
    EXPECT_EQ(misuse.call(handle.archive), misuse.expected) << misuse.what;
    EXPECT_EQ(kelvarin_error_kind(handle.archive), misuse.expected) << misuse.what;
    EXPECT_EQ(std::strlen(kelvarin_error_message(handle.archive)) > 0, misuse.expected != KELVARIN_OK)
        << misuse.what << ": " << kelvarin_error_message(handle.archive);
    // With no handle at all, the same call is misuse too.
    if (misuse.expected != KELVARIN_OK) {
      EXPECT_EQ(misuse.call(nullptr), KELVARIN_MISUSE) << misuse.what;
    }
  }
  EXPECT_EQ(kelvarin_entry_count(nullptr), 0u);
  EXPECT_EQ(kelvarin_error_kind(nullptr), KELVARIN_MISUSE);
  kelvarin_archive_free(nullptr);
  // What a stopped extraction wrote stays, but nothing after the stop.
  EXPECT_FALSE(fs::exists(dir / "stopped" / "readme.txt"));
  EXPECT_TRUE(fs::exists(dir / "some" / "maps" / "level1.map"));
}

TEST(CApi, AReaderGivesWhatThePathGivesAndIsClosedOnce) {
  Memory memory{read_file(kSample)};
  TempDir dir;
  {
    Handle from_path;
    Handle from_memory;
    ASSERT_EQ(kelvarin_open_path(from_path.archive, utf8(kSample).c_str()), KELVARIN_OK);
    const kelvarin_reader reader = memory.reader();
    ASSERT_EQ(kelvarin_open_reader(from_memory.archive, &reader), KELVARIN_OK);
    ASSERT_EQ(kelvarin_entry_count(from_memory.archive), kelvarin_entry_count(from_path.archive));
    kelvarin_entry a;
    kelvarin_entry b;
    ASSERT_EQ(kelvarin_entry_at(from_path.archive, 2, &a), KELVARIN_OK);
    ASSERT_EQ(kelvarin_entry_at(from_memory.archive, 2, &b), KELVARIN_OK);
    EXPECT_EQ(std::string(a.path), "maps/level1.map");
    EXPECT_EQ(std::string(b.path), a.path);
    EXPECT_EQ(b.data_position, a.data_position);
    std::string bytes(a.size + 10, '\0');
    std::size_t done = 0;
    ASSERT_EQ(kelvarin_read(from_memory.archive, "\\maps\\level1.map", 0, bytes.data(), bytes.size(), &done),
              KELVARIN_OK);
    EXPECT_EQ(bytes.substr(0, done), read_file(fs::path(KELVARIN_SOURCE_DIR) / "examples/sample/maps/level1.map"));
    std::size_t position = 0;
    ASSERT_EQ(kelvarin_find(from_memory.archive, "/maps/level1.map", &position), KELVARIN_OK);
    EXPECT_EQ(position, 2u);
    ASSERT_EQ(kelvarin_extract(from_memory.archive, utf8(dir / "out").c_str(), nullptr), KELVARIN_OK);
    EXPECT_EQ(snapshot(dir / "out"), snapshot(fs::path(KELVARIN_SOURCE_DIR) / "examples" / "sample"));
    // Opening again lets the first reader go.
    ASSERT_EQ(kelvarin_open_path(from_memory.archive, utf8(kSample).c_str()), KELVARIN_OK);
    EXPECT_EQ(memory.closed, 1);
  }
  // An archive read through a reader has no file to change.
  Handle in_memory;
  const kelvarin_reader kept = memory.reader();
  ASSERT_EQ(kelvarin_open_reader(in_memory.archive, &kept), KELVARIN_OK);
  EXPECT_EQ(kelvarin_move(in_memory.archive, "maps", "levels", nullptr), KELVARIN_MISUSE);
  // A reader that fails is closed too, and the open says why.
  memory.fail = true;
  Handle handle;
  const kelvarin_reader reader = memory.reader();
  EXPECT_EQ(kelvarin_open_reader(handle.archive, &reader), KELVARIN_IO);
  EXPECT_EQ(memory.closed, 2);
  EXPECT_EQ(kelvarin_entry_count(handle.archive), 0u);
}

// A read before anything needs the whole plan plans its path alone: its
// answers are still those of the whole plan, where names taken by entries
// it doesn't choose decide them.
TEST(CApi, AReadBeforeTheListingAnswersAsTheWholePlan) {
  TempDir dir;
  const std::string archive = utf8(write_archive(
      dir / "a.brq",
      {source_folder("", {source_file("a", "one"), source_file("a", "two"), source_file("d", "x"),
                          source_folder("d", {source_file("f", "y")}), source_folder("e", {source_file("g", "z")}),
                          source_file("e", "w"), source_folder("h", {source_file("i", "1")}),
                          source_folder("h", {source_file("i", "2"), source_file("j", "3")}), source_file("A", "4"),
                          source_file("b\x01", "5"), source_folder("c\x01", {source_file("m", "6")})})}));
  struct Read {
    const char* path;
    kelvarin_kind kind;
    const char* bytes;
  };
  const std::vector<Read> reads = {
      {"a", KELVARIN_OK, "two"},           {"d", KELVARIN_OK, "x"},
      {"d/f", KELVARIN_NOT_FOUND, ""},     {"e", KELVARIN_NOT_A_FILE, ""},
      {"e/g", KELVARIN_OK, "z"},           {"h/i", KELVARIN_OK, "2"},
      {"h/j", KELVARIN_OK, "3"},           {"h", KELVARIN_NOT_A_FILE, ""},
      {"none", KELVARIN_NOT_FOUND, ""},    {"h/*", KELVARIN_NOT_FOUND, ""},
      {"b\x01", KELVARIN_NOT_FOUND, ""},  {"c\x01/m", KELVARIN_NOT_FOUND, ""},
      {"A", platform::kFoldsCase ? KELVARIN_NOT_FOUND : KELVARIN_OK, platform::kFoldsCase ? "" : "4"},
  };
  const auto collect = [](void* user, const void* bytes, std::size_t count) {
    static_cast<std::string*>(user)->append(static_cast<const char*>(bytes), count);
    return 0;
  };
  for (const Read& read : reads) {
    Handle fresh;
    Handle listed;
    ASSERT_EQ(kelvarin_open_path(fresh.archive, archive.c_str()), KELVARIN_OK);
    ASSERT_EQ(kelvarin_open_path(listed.archive, archive.c_str()), KELVARIN_OK);
    ASSERT_GT(kelvarin_entry_count(listed.archive), 0u);
    std::string got;
    std::string expected;
    EXPECT_EQ(kelvarin_read_to(fresh.archive, read.path, collect, &got), read.kind) << read.path;
    EXPECT_EQ(kelvarin_read_to(listed.archive, read.path, collect, &expected), read.kind) << read.path;
    EXPECT_EQ(got, read.bytes) << read.path;
    EXPECT_EQ(expected, read.bytes) << read.path;
    EXPECT_STREQ(kelvarin_error_message(fresh.archive), kelvarin_error_message(listed.archive)) << read.path;
  }
}

// Each edit tells its changes, and the handle then has the changed archive
// open; a dry run changes nothing.
TEST(CApi, PackAndTheEditsLeaveTheHandleOnTheChangedArchive) {
  TempDir dir;
  const fs::path sample = fs::path(KELVARIN_SOURCE_DIR) / "examples" / "sample";
  const std::string archive = utf8(dir / "a.brq");
  Handle handle;
  ASSERT_EQ(kelvarin_pack(handle.archive, archive.c_str(), utf8(sample).c_str(), nullptr, 0, nullptr), KELVARIN_OK);
  ASSERT_EQ(kelvarin_entry_count(handle.archive), 10u);
  std::vector<std::string> told;
  kelvarin_edit_options options;
  kelvarin_edit_options_init(&options);
  options.user = &told;
  options.on_event = [](void* user, const kelvarin_event* event) {
    static const char* const kWords[] = {"", "", "", "", "", "", "+", "-", "~", ">"};
    if (event->kind >= KELVARIN_EVENT_ADDED) {
      static_cast<std::vector<std::string>*>(user)->push_back(kWords[event->kind] + std::string(event->path) +
                                                               (event->to_size > 0 ? " " + std::string(event->to) : ""));
    }
    return 0;
  };
  const char* gone[] = {"readme.txt"};
  options.dry_run = 1;
  EXPECT_EQ(kelvarin_remove(handle.archive, gone, 1, &options), KELVARIN_OK);
  EXPECT_EQ(kelvarin_entry_count(handle.archive), 10u);
  options.dry_run = 0;
  EXPECT_EQ(kelvarin_remove(handle.archive, gone, 1, &options), KELVARIN_OK);
  EXPECT_EQ(kelvarin_entry_count(handle.archive), 9u);
  EXPECT_EQ(kelvarin_move(handle.archive, "maps", "levels", &options), KELVARIN_OK);
  write_file(dir / "new.txt", "new");
  const char* added[] = {"new.txt"};
  const std::string directory = utf8(dir.path());
  options.directory = directory.c_str();
  EXPECT_EQ(kelvarin_add(handle.archive, added, 1, &options), KELVARIN_OK);
  EXPECT_EQ(kelvarin_sync(handle.archive, utf8(sample).c_str(), &options), KELVARIN_OK);
  EXPECT_EQ(told, (std::vector<std::string>{"-readme.txt", "-readme.txt", ">maps levels", "+new.txt", "-levels",
                                            "+maps", "-new.txt", "+readme.txt"}));
  ASSERT_EQ(kelvarin_extract(handle.archive, utf8(dir / "out").c_str(), nullptr), KELVARIN_OK);
  EXPECT_EQ(snapshot(dir / "out"), snapshot(sample));
}

}  // namespace
}  // namespace kelvarin::testing
