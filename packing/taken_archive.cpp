// Opening an archive and taking its lock, again where it was replaced
// between the two.
#include "packing/taken_archive.h"

#include "messages/entry_messages.h"

namespace kelvarin {
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

Error open_to_change(const std::string& archive, bool take, std::optional<OpenedIndex>& opened, EditTarget& target,
                     std::string& problem) {
  for (int attempt = 0;; ++attempt) {
    opened.emplace(ArchiveIndex::open(archive));
    if (!opened->ok()) {
      problem = error_line(archive_problem(*opened));
      return opened->error();
    }
    if (!take) return {};
    bool replaced = false;
    const Error error = take_for_edit(opened->value(), target, replaced);
    std::string cause;
    if (error.is_locked()) {
      cause = "another edit is changing it";
    } else if (!error.ok()) {
      cause = cause_of(error);
    } else if (!replaced) {
      return {};
    } else if (attempt + 1 < kOpenAttempts) {
      continue;
    } else {
      cause = "other edits keep replacing it";
    }
    problem = unable_to_change(archive, cause);
    return error.ok() ? Error::of_kind(Error::Kind::locked, cause) : error;
  }
}

}  // namespace kelvarin
