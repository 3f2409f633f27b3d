// Opening an archive and taking its lock, again where it was replaced
// between the two.
#include "brq/taken_archive.h"

namespace kelvarin::brq {
namespace {

// How often an archive another change replaced between its opening and
// its lock is opened again before giving up.
constexpr int kOpenAttempts = 8;

}  // namespace

std::string unable_to_change(const std::string& archive, const std::string& cause) {
  return error_line("Unable to change " + archive + ": " + cause);
}

bool names_a_link(const std::string& archive) {
  platform::Folder folder;
  std::string name;
  platform::NativeString native;
  platform::FileIdentity there;
  if (!platform::open_parent_folder(archive, folder, name).ok()) return false;
  platform::native_name(name, native);
  return platform::identify_in(folder, native, there).ok() && there.is_link;
}

bool open_to_change(const std::string& archive, bool take, std::optional<OpenedIndex>& opened, EditTarget& target,
                    const Streams& streams) {
  for (int attempt = 0;; ++attempt) {
    opened.emplace(open_index(archive, streams));
    if (!opened->ok()) return false;
    if (!take) return true;
    bool replaced = false;
    const Error error = take_for_edit(opened->value(), target, replaced);
    std::string cause;
    if (error.is_locked()) {
      cause = "another edit is changing it";
    } else if (!error.ok()) {
      cause = cause_of(error);
    } else if (!replaced) {
      return true;
    } else if (attempt + 1 < kOpenAttempts) {
      continue;
    } else {
      cause = "other edits keep replacing it";
    }
    print(streams.err, unable_to_change(archive, cause));
    return false;
  }
}

}  // namespace kelvarin::brq
