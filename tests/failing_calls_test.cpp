// One call of the file system failing, the rest going through to the disk:
// a folder's rename, a file's link, its rename over the old one, its close.
// Each failure is one line naming the entry, the run goes on and ends with
// status 2, nothing half-written is left under a final name, and what held
// the name before stays as it was.
#include <gtest/gtest.h>

#include "names/entry_name.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace kelvarin::testing {
namespace {

// Fails the first call of one kind; the rest go through.
class Failing final : public platform::FileSystemWrapper {
 public:
  enum class Call { name_folder, link, replace, close };
  explicit Failing(Call call) : FileSystemWrapper(platform::os_file_system()), call_(call) {}

  Error name_folder(const platform::Folder& parent, platform::Folder& folder, const platform::NativeString& from,
                    const platform::NativeString& to) override {
    if (call_ != Call::name_folder || calls > 0) return FileSystemWrapper::name_folder(parent, folder, from, to);
    folder.handle.close();
    return fail(Error::Step::rename);
  }
  Error link_unnamed_file(const platform::FileHandle& file, const platform::Folder& folder,
                          const platform::NativeString& name) override {
    if (call_ != Call::link || calls > 0) return FileSystemWrapper::link_unnamed_file(file, folder, name);
    return fail(Error::Step::create);
  }
  Error replace_file(const platform::Folder& folder, const platform::NativeString& from,
                     const platform::NativeString& to) override {
    if (call_ != Call::replace || calls > 0) return FileSystemWrapper::replace_file(folder, from, to);
    return fail(Error::Step::rename);
  }
  Error close(platform::FileHandle& file) override {
    const Error closed = FileSystemWrapper::close(file);
    if (call_ != Call::close || calls > 0) return closed;
    return fail(Error::Step::write);
  }

  int calls = 0;

 private:
  Error fail(Error::Step step) {
    ++calls;
    return Error::because("the disk said no", step);
  }
  Call call_;
};

struct Case {
  Failing::Call call;
  bool folder_there;  // the destination's folder d is there before the run, with a file a
  std::string line;   // the one error line, after "ERROR: "
  Tree tree;          // what the destination holds afterwards
};

TEST(FailingCalls, EachIsOneLineAndLeavesNothingHalfWritten) {
  const Tree a_kept = {{"d", "<dir>"}, {"d/a", "old a"}, {"d/b", "new b"}};
  const std::vector<Case> cases = {
      // In a folder that was there, a new file is linked under its name,
      // and a file replacing one is renamed over it.
      {Failing::Call::link, true, "Unable to create file: <d>a: the disk said no", a_kept},
      {Failing::Call::replace, true, "Unable to create file: <d>a: the disk said no", a_kept},
      // A failed close is a failed write, wherever the file is.
      {Failing::Call::close, true, "Unable to write file: <d>a: the disk said no", a_kept},
      {Failing::Call::close, false, "Unable to write file: <d>a: the disk said no", {{"d", "<dir>"}, {"d/b", "new b"}}},
      // A new folder is filled under its temporary name and renamed last.
      {Failing::Call::name_folder, false,
       "Unable to put folder <d> in place: the disk said no; what was written in it is in " +
           std::string(TemporaryName("d", true).text()) + " beside it",
       {{std::string(TemporaryName("d", true).text()), "<dir>"},
        {std::string(TemporaryName("d", true).text()) + "/a", "new a"},
        {std::string(TemporaryName("d", true).text()) + "/b", "new b"}}},
  };
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
    const Extracted run = extract_with(archive, dir / "out", {}, {}, &failing);
    const std::string what = std::to_string(static_cast<int>(c.call)) + (c.folder_there ? " there" : " new");
    if (failing.calls == 0) {
      // Windows has no unnamed files to link.
      EXPECT_TRUE(kOnWindows) << what;
      continue;
    }
    std::string line = c.line;
    line.replace(line.find("<d>"), 3, utf8(dir / "out") + "\\d\\");
    EXPECT_FALSE(run.summary.complete()) << what;
    EXPECT_EQ(count_lines(run.lines, "ERROR: "), 1) << what << run.lines;
    EXPECT_EQ(count_lines(run.lines, "ERROR: " + line + "\n"), 1) << what << run.lines;
    EXPECT_EQ(snapshot(dir / "out"), c.tree) << what;
  }
}

}  // namespace
}  // namespace kelvarin::testing
