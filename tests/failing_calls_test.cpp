// Calls of the file system failing, the rest going through to the disk: a
// folder's rename, a file's link, its rename over the old one, its close.
// Each failure is one line naming the entry, told in the walk's order
// whichever worker met it, the run goes on and ends with status 2, nothing
// half-written is left under a final name, and what held the name before
// stays as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "messages/entry_messages.h"
#include "names/entry_name.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Fails the calls of one kind that concern the file "a" (every close, which
// names no file); the rest go through.
class Failing final : public platform::FileSystemWrapper {
 public:
  enum class Call { name_folder, link, replace, close };
  explicit Failing(Call call) : FileSystemWrapper(platform::os_file_system()), call_(call) {
    platform::native_name("a", a_);
  }

  Error name_folder(const platform::Folder& parent, platform::Folder& folder, const platform::NativeString& from,
                    const platform::NativeString& to) override {
    if (call_ != Call::name_folder) return FileSystemWrapper::name_folder(parent, folder, from, to);
    folder.handle.close();
    folder.lock.close();
    return fail(Error::Step::rename);
  }
  Error link_unnamed_file(const platform::FileHandle& file, const platform::Folder& folder,
                          const platform::NativeString& name) override {
    if (call_ != Call::link || name != a_) return FileSystemWrapper::link_unnamed_file(file, folder, name);
    return fail(Error::Step::create);
  }
  Error replace_file(const platform::Folder& folder, const platform::NativeString& from,
                     const platform::NativeString& to) override {
    if (call_ != Call::replace || to != a_) return FileSystemWrapper::replace_file(folder, from, to);
    return fail(Error::Step::rename);
  }
  Error close(platform::FileHandle& file) override {
    const Error closed = FileSystemWrapper::close(file);
    if (call_ != Call::close) return closed;
    return fail(Error::Step::write);
  }

  std::atomic<int> calls{0};

 private:
  Error fail(Error::Step step) {
    ++calls;
    return Error::because("the disk said no", step);
  }
  Call call_;
  platform::NativeString a_;
};

struct Case {
  Failing::Call call;
  bool folder_there;  // the destination's folder d is there before the run, with a file a
  std::string lines;  // the lines after the banner, <d> standing for the folder d under the destination
  Tree tree;          // what the destination holds afterwards
};

TEST(FailingCalls, EachIsOneLineInTheWalksOrderAndLeavesNothingHalfWritten) {
  const std::string a = file_line("\\d\\a", 5);
  const std::string b = file_line("\\d\\b", 5);
  const std::string temp(TemporaryName("d", true).text());
  const Tree a_kept = {{"d", "<dir>"}, {"d/a", "old a"}, {"d/b", "new b"}};
  const std::vector<Case> cases = {
      // In a folder that was there, a new file is linked under its name,
      // and a file replacing one is renamed over it.
      {Failing::Call::link, true, a + "ERROR: Unable to create file: <d>a: the disk said no\n" + b, a_kept},
      {Failing::Call::replace, true, a + "ERROR: Unable to create file: <d>a: the disk said no\n" + b, a_kept},
      // A failed close is a failed write, wherever the file is.
      {Failing::Call::close, true,
       a + "ERROR: Unable to write file: <d>a: the disk said no\n" + b + "ERROR: Unable to write file: <d>b: the disk said no\n",
       {{"d", "<dir>"}, {"d/a", "old a"}}},
      {Failing::Call::close, false,
       a + "ERROR: Unable to write file: <d>a: the disk said no\n" + b + "ERROR: Unable to write file: <d>b: the disk said no\n",
       {{"d", "<dir>"}}},
      // A new folder is filled under its temporary name and renamed last.
      {Failing::Call::name_folder, false,
       a + b + "ERROR: Unable to put folder <d> in place: the disk said no; what was written in it is in " + temp + " beside it\n",
       {{temp, "<dir>"}, {temp + "/a", "new a"}, {temp + "/b", "new b"}}},
  };
  for (const unsigned jobs : {1u, 4u}) {
    for (const Case& c : cases) {
      TempDir dir;
      const fs::path archive =
          write_archive(dir / "a.brq", {source_folder("", {source_folder("d", {source_file("a", "new a"),
                                                                               source_file("b", "new b")})})});
      fs::create_directories(dir / "out");
      if (c.folder_there) {
        fs::create_directories(dir / "out" / "d");
        write_file(dir / "out" / "d" / "a", "old a");
      }
      Failing failing(c.call);
      const Extracted run = extract_with(archive, dir / "out", {}, {}, &failing, jobs);
      const std::string what = std::to_string(static_cast<int>(c.call)) + (c.folder_there ? " there, " : " new, ") +
                               std::to_string(jobs) + " jobs";
      if (failing.calls == 0) {
        // Windows has no unnamed files to link.
        EXPECT_TRUE(kOnWindows) << what;
        continue;
      }
      std::string lines = c.lines;
      for (std::size_t at; (at = lines.find("<d>")) != std::string::npos;) {
        lines.replace(at, 3, utf8(dir / "out") + "\\d\\");
      }
      EXPECT_FALSE(run.summary.complete()) << what;
      EXPECT_EQ(run.lines, lines) << what;
      EXPECT_EQ(snapshot(dir / "out"), c.tree) << what;
    }
  }
}

// A full disk fails every file after the first for the same cause: brq
// tells the first and counts the others in one line at the end, unless
// asked for each; Kelvarin_Extract's lines stay one a failure.
TEST(FailingCalls, AFullDiskIsItsFirstLineAndACount) {
  const int no_space = kOnWindows ? 112 : ENOSPC;  // ERROR_DISK_FULL on Windows
  class Full final : public platform::FileSystemWrapper {
   public:
    explicit Full(int code) : FileSystemWrapper(platform::os_file_system()), code_(code) {}
    Error close(platform::FileHandle& file) override {
      FileSystemWrapper::close(file);
      return Error::os(code_, Error::Step::write);
    }

   private:
    int code_;
  };
  struct Lines final : ExtractionLines {
    using ExtractionLines::ExtractionLines;
    void file(const EntryVisit&, std::int32_t) override {}
    void error(std::string_view line) override { text += line; }
    std::string text;
  };
  TempDir dir;
  std::vector<SourceNode> files;
  for (char name = 'a'; name <= 'e'; ++name) files.push_back(source_file(std::string(1, name), "x"));
  const OpenedIndex index = ArchiveIndex::open(utf8(write_archive(dir / "a.brq", {source_folder("", files)})));
  const Result<ExtractionPlan> plan = ExtractionPlan::make(index.value(), nullptr, CaseRule::exact());
  for (const bool counted : {true, false}) {
    Full full(no_space);
    Lines lines(index.value(), utf8(dir / "out"), PathForm::listed);
    if (counted) lines.count_repeats();
    ExtractOptions options{utf8(dir / "out")};
    options.file_system = &full;
    EXPECT_EQ(extract(index.value(), plan.value(), open_destination(options), options, lines).failed, 5u);
    for (const std::string& line : lines.closing_lines()) lines.text += line;
    EXPECT_EQ(count_lines(lines.text, "ERROR: Unable to write file: "), counted ? 1 : 5) << lines.text;
    EXPECT_EQ(count_lines(lines.text, "ERROR: 4 more files and folders could not be written: " +
                                          Error::os(no_space).cause()),
              counted ? 1 : 0)
        << lines.text;
  }
}

}  // namespace
}  // namespace kelvarin::testing
