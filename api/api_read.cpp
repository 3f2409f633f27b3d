// A file's bytes by its path, as extraction would write them: a range into
// the caller's buffer, or the whole file through the caller's function.
#include "api/api_handle.h"
#include "messages/entry_messages.h"
#include "names/entry_pattern.h"

namespace kelvarin::api {
namespace {

// The listing position of the entry at `path`, as reads find it: the
// first in walk order (a folder merged into an earlier one, or a file left
// out, doesn't hide what came first), and of a name held twice the later
// file, which is what an extraction leaves. MISUSE or NOT_FOUND otherwise.
kelvarin_kind locate(kelvarin_archive* archive, const char* path, std::uint32_t& position) {
  if (const kelvarin_kind closed = need_open(archive); closed != KELVARIN_OK) return closed;
  if (path == nullptr) return fail(archive, KELVARIN_MISUSE, "no path (a null pointer)");
  const std::string wanted = normalise_entry_path(path);
  const std::optional<std::uint32_t> at = archive->position_of(wanted);
  if (!at) return fail(archive, KELVARIN_NOT_FOUND, nothing_named(wanted, archive->index->path()));
  position = *at;
  const std::uint32_t entry = archive->listing[position].entry;
  if ((*archive->plan)[entry].fate == Fate::replaced) {
    // Rare: a scan is enough.
    for (std::uint32_t later = position + 1; later < archive->listing.size(); ++later) {
      const PlannedEntry& other = (*archive->plan)[archive->listing[later].entry];
      if (other.fate == Fate::file && other.place() == entry) position = later;
    }
  }
  return KELVARIN_OK;
}

// The file at `path` that an extraction leaves: MISUSE, NOT_FOUND,
// NOT_A_FILE or the entry's refusal on the handle otherwise.
kelvarin_kind find_file(kelvarin_archive* archive, const char* path, std::uint32_t& found) {
  std::uint32_t position = 0;
  if (const kelvarin_kind located = locate(archive, path, position); located != KELVARIN_OK) return located;
  std::string folder_path;
  const EntryVisit visit = archive->visit_at(position, folder_path);
  const PlannedEntry& planned = (*archive->plan)[visit.entry];
  if (planned.fate == Fate::left_out) {
    return fail(archive, planned.refusal == Refusal::damaged ? KELVARIN_BAD_ARCHIVE : KELVARIN_NOT_FOUND,
                one_line(left_out_line(*archive->index, visit, planned)));
  }
  if (visit.is_folder) {
    return fail(archive, KELVARIN_NOT_A_FILE,
                listed_path(visit) + " in " + archive->index->path() + " is a folder, not a file");
  }
  found = visit.entry;
  return KELVARIN_OK;
}

kelvarin_kind read_failed(kelvarin_archive* archive, const char* path, const Error& error) {
  return fail(archive, kind_of(error),
              "Unable to read the data of " + normalise_entry_path(path) + ": " +
                  (error.is_ended_early() ? std::string("the archive ends before its last byte") : cause_of(error)));
}

// Stands for the caller's request to stop, among the reader's failures.
const Error& stop_asked() {
  static const Error stop = Error::because("stopped by the caller");
  return stop;
}

}  // namespace
}  // namespace kelvarin::api

using namespace kelvarin;
using namespace kelvarin::api;

extern "C" {

kelvarin_kind kelvarin_find(kelvarin_archive* archive, const char* path, size_t* position) {
  return guarded(archive, [&] {
    if (position != nullptr) *position = 0;
    std::uint32_t found = 0;
    if (const kelvarin_kind located = locate(archive, path, found); located != KELVARIN_OK) return located;
    if (position == nullptr) return fail(archive, KELVARIN_MISUSE, "no position to fill (a null pointer)");
    *position = found;
    return succeed(archive);
  });
}

kelvarin_kind kelvarin_read(kelvarin_archive* archive, const char* path, uint64_t offset, void* buffer, size_t count,
                            size_t* done) {
  return guarded(archive, [&] {
    if (done != nullptr) *done = 0;
    std::uint32_t entry = 0;
    if (const kelvarin_kind found = find_file(archive, path, entry); found != KELVARIN_OK) return found;
    if (done == nullptr || (buffer == nullptr && count > 0)) {
      return fail(archive, KELVARIN_MISUSE, "no buffer or no count to fill (a null pointer)");
    }
    const ArchiveIndex& index = *archive->index;
    const auto size = static_cast<std::uint64_t>(index.node(entry).file_size);
    if (offset >= size || count == 0) return succeed(archive);
    const std::size_t wanted = size - offset < count ? static_cast<std::size_t>(size - offset) : count;
    Error error = index.read_at(*index.data_position(entry) + offset, buffer, wanted, *done);
    if (error.ok() && *done < wanted) {
      error = Error::found(Error::Kind::ended_early, Error::Finding::archive_ends_early, Error::Step::read);
    }
    if (!error.ok()) {
      return read_failed(archive, path, error);
    }
    return succeed(archive);
  });
}

kelvarin_kind kelvarin_read_to(kelvarin_archive* archive, const char* path, kelvarin_write_fn write, void* user) {
  return guarded(archive, [&] {
    std::uint32_t entry = 0;
    if (const kelvarin_kind found = find_file(archive, path, entry); found != KELVARIN_OK) return found;
    if (write == nullptr) return fail(archive, KELVARIN_MISUSE, "no write function (a null pointer)");
    const ArchiveIndex& index = *archive->index;
    const auto size = static_cast<std::uint64_t>(index.node(entry).file_size);
    bool stopped = false;
    const Error error = index.read_range(*index.data_position(entry), size, archive->buffer,
                                         [&](const char* bytes, std::size_t length) {
                                           if (write(user, bytes, length) == 0) return Error{};
                                           stopped = true;
                                           return stop_asked();
                                         });
    if (stopped) return fail(archive, KELVARIN_STOPPED, "stopped by the caller");
    if (!error.ok()) {
      return read_failed(archive, path, error);
    }
    return succeed(archive);
  });
}

}  // extern "C"
