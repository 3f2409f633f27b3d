// The parts of the platform layer that are the same on every OS, built on
// the operations each OS file implements: error texts, the names Windows
// can't hold, the copy loop, a new file's way to its name, and the frame of
// main().
#include <algorithm>

#include "platform/platform.h"

namespace kelvarin {

std::string Error::cause() const {
  if (ok()) return {};
  if (!reason_.empty()) return reason_;
  return platform::describe_os_error(code_);
}

std::string Error::message() const {
  static constexpr const char* kVerbs[] = {"use", "open", "read", "write", "create", "rename", "remove"};
  std::string text = "Unable to ";
  text += kVerbs[static_cast<int>(step_)];
  if (!path_.empty()) text += " " + path_;
  return text + ": " + cause();
}

}  // namespace kelvarin

namespace kelvarin::platform {
namespace {

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  auto same = [](char x, char y) { return ascii_upper(x) == ascii_upper(y); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

// Windows opens a device instead of a file for these names, whatever
// follows the first dot and however they are written.
bool is_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (same_ignoring_case(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  std::string_view port = stem.substr(0, 3);
  if (!same_ignoring_case(port, "COM") && !same_ignoring_case(port, "LPT")) return false;
  std::string_view number = stem.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three count as digits here.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

const char* windows_name_reason(std::string_view name) {
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) return "the name holds a control character, which Windows does not allow";
    if (c == ':') return "the name holds ':', which Windows takes for a drive or a stream";
    if (std::string_view("<>\"|?*").find(c) != std::string_view::npos) {
      return "the name holds a character that Windows does not allow";
    }
  }
  if (is_device_name(name)) return "the name is a device on Windows";
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    return "Windows drops a dot or space at the end of a name";
  }
  return nullptr;
}

Error copy_range(const FileHandle& from, std::uint64_t position, std::uint64_t length,
                 const FileHandle& to, std::vector<char>& buffer) {
  std::uint64_t done = copy_in_kernel(from, position, length, to);
  if (done == length) return {};
  if (buffer.size() < kCopyChunk) buffer.resize(kCopyChunk);
  while (done < length) {
    std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kCopyChunk));
    std::size_t got = 0;
    Error read = read_at(from, position + done, buffer.data(), chunk, got);
    if (!read.ok()) return read.during(Error::Step::read);
    if (got < chunk) return Error::because("the archive ends before its last byte", Error::Step::read);
    Error written = write(to, buffer.data(), chunk);
    if (!written.ok()) return written.during(Error::Step::write);
    done += chunk;
  }
  return {};
}

Error remove_tree(const Folder& parent, const NativeString& name) {
  FileIdentity what;
  Error looked = identify_in(parent, name, what);
  if (!looked.ok()) return name_gone(looked) ? Error{} : looked.during(Error::Step::remove);
  if (!what.is_folder) return remove_file(parent, name);
  // The folders from `name` down to the one being cleared, each with the
  // names of its folders still to clear. Listed and cleared twice, yet not
  // removable, a folder is given up rather than listed forever.
  struct Level {
    Folder folder;
    NativeString name;
    std::vector<NativeString> subfolders;
    int listings = 0;
  };
  std::vector<Level> levels(1);
  levels[0].name = name;
  std::vector<FolderItem> items;
  NativeString item_name;
  while (!levels.empty()) {
    Level& level = levels.back();
    const Folder& holder = levels.size() > 1 ? levels[levels.size() - 2].folder : parent;
    if (!level.subfolders.empty()) {
      Level next;
      next.name = std::move(level.subfolders.back());
      level.subfolders.pop_back();
      levels.push_back(std::move(next));
      continue;
    }
    if (level.listings > 0) {
      Error removed = remove_folder(holder, level.name, level.folder);
      if (removed.ok() || name_gone(removed)) {
        levels.pop_back();
        continue;
      }
      if (!folder_not_empty(removed) || level.listings == 2) return removed.during(Error::Step::remove);
    }
    if (!open_subfolder(holder, level.name, level.folder).ok()) {
      // No longer a folder (a link put there meanwhile): removed as a name.
      Error removed = remove_file(holder, level.name);
      if (!removed.ok() && !name_gone(removed)) return removed;
      levels.pop_back();
      continue;
    }
    ++level.listings;
    Error listed = list_folder(level.folder, items);
    if (!listed.ok()) return listed.during(Error::Step::remove);
    for (const FolderItem& item : items) {
      native_name(item.name, item_name);
      if (item.kind == FolderItem::Kind::folder) {
        level.subfolders.push_back(item_name);
        continue;
      }
      Error removed = remove_file(level.folder, item_name);
      if (!removed.ok() && !name_gone(removed)) return removed;
    }
  }
  return {};
}

Error NewFile::begin(const Folder& folder, const NativeString& temp_name) {
  // One insertion into the folder at the end, where a temporary name costs
  // an insertion, a removal and a second lookup in the rename.
  named_ = false;
  if (create_unnamed_file(folder, handle_).ok()) return {};
  // Whatever kept it unnamed, the named way reports in its own words.
  named_ = true;
  return create_file(folder, temp_name, handle_).during(Error::Step::create);
}

Error NewFile::finish(const Folder& folder, const NativeString& temp_name,
                      const NativeString& final_name) {
  if (!named_) {
    // Linking never replaces nor follows what holds the name: a free name
    // is taken directly, a taken one goes through the temporary name and
    // a rename that replaces it in one step.
    Error linked = link_unnamed_file(handle_, folder, final_name);
    if (linked.ok()) {
      Error closed = handle_.close();
      if (closed.ok()) return {};
      // The name was free: removing it again loses nothing of anyone's.
      remove_file(folder, final_name);
      return closed;
    }
    if (name_taken(linked)) {
      // The temporary name is free unless a killed run left it (or someone
      // put a link there): only then is it removed and tried again.
      linked = link_unnamed_file(handle_, folder, temp_name);
      if (name_taken(linked)) {
        linked = remove_file(folder, temp_name);
        if (linked.ok()) linked = link_unnamed_file(handle_, folder, temp_name);
      }
    }
    if (!linked.ok()) {
      handle_.close();
      return linked.during(Error::Step::create);
    }
    named_ = true;
  }
  Error closed = handle_.close();
  if (!closed.ok()) {
    remove_file(folder, temp_name);
    return closed;
  }
  Error replaced = replace_file(folder, temp_name, final_name);
  if (!replaced.ok()) remove_file(folder, temp_name);
  return replaced.during(Error::Step::create);
}

void NewFile::abandon(const Folder& folder, const NativeString& temp_name) {
  handle_.close();
  if (named_) remove_file(folder, temp_name);
}

int run_main(int argc, char** argv, int (*entry)(int argc, char** argv)) {
  prepare_process();
  // One line per file: when nobody watches, write them in large blocks
  // instead of one system call per line.
  if (!is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  std::vector<std::string> arguments = utf8_arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int status = entry(static_cast<int>(arguments.size()), pointers.data());
  std::fflush(stdout);
  return status;
}

}  // namespace kelvarin::platform
