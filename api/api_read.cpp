// A file's bytes by its path, as extraction would write them: a range into
// the caller's buffer, or the whole file through the caller's function.
// Before the handle has the whole plan, a read plans its own path alone.
#include <algorithm>

#include "api/api_handle.h"
#include "messages/entry_messages.h"
#include "names/entry_pattern.h"
#include "names/entry_selection.h"

namespace kelvarin::api {
namespace {

// Of the entries listed at one path, in walk order, the one reads answer
// for: the file an extraction leaves there, where there is one, which an
// entry left out before it doesn't hide (a name that spells the same path
// through a separator, say); else the first.
template <typename Fates>
std::size_t answering(std::size_t count, const Fates& fate_of) {
  for (std::size_t i = 0; i < count; ++i) {
    if (fate_of(i) == Fate::file) return i;
  }
  return 0;
}

// The listing position of the entry at `path`, as reads find it (answering
// above), and of a name held twice the later file, which is what an
// extraction leaves. MISUSE or NOT_FOUND otherwise.
kelvarin_kind locate(kelvarin_archive* archive, const char* path, std::uint32_t& position) {
  if (const kelvarin_kind listed = need_listing(archive); listed != KELVARIN_OK) return listed;
  if (path == nullptr) return fail(archive, KELVARIN_MISUSE, "no path (a null pointer)");
  const std::string wanted = normalise_entry_path(path);
  const std::vector<std::uint32_t> at = archive->positions_of(wanted);
  if (at.empty()) return fail(archive, KELVARIN_NOT_FOUND, nothing_named(wanted, archive->index->path()));
  const auto fate_of = [&](std::size_t i) { return (*archive->plan)[archive->listing[at[i]].entry].fate; };
  position = at[answering(at.size(), fate_of)];
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

// What a read answers of the entry found at its path: its number in
// `found` where it is a file written; NOT_A_FILE or its refusal otherwise.
kelvarin_kind file_of(kelvarin_archive* archive, const EntryVisit& visit, const PlannedEntry& planned,
                      std::uint32_t& found) {
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

// Whether planning `path` alone may decide otherwise than the whole plan
// about the entries there. Entries it doesn't choose take no names, so it
// differs where a file holds the name of a folder on the way (and that
// folder is left out), or where a name differs from the path's only in
// case (where case is ignored they meet); a walk of the folders on the
// way, and nothing else, finds either.
bool path_alone_may_differ(const ArchiveIndex& index, std::string_view path) {
  std::vector<std::string_view> names;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  struct Chain {
    std::uint32_t first;
    std::size_t name;  // the number of the path's name its entries meet
  };
  std::vector<Chain> pending{{0, 0}};
  std::uint64_t met = 0;
  while (!pending.empty()) {
    const Chain chain = pending.back();
    pending.pop_back();
    // The root is entry 0, which as a link stands for none: a chain starts
    // with an entry, and ends at the link to none.
    std::uint32_t at = chain.first;
    do {
      // Only a tree that loops meets more entries than it holds.
      if (++met > index.entry_count()) return true;
      if (!index.name_readable(at)) continue;
      const std::string_view name = index.name(at);
      const bool folder = index.is_folder(at);
      if (name.empty()) {
        // A folder without a name folds into the one holding it.
        if (folder && index.node(at).child != kNoNode) pending.push_back({index.node(at).child, chain.name});
        continue;
      }
      if (!same_ignoring_case(name, names[chain.name])) continue;
      if (name != names[chain.name]) return true;
      if (chain.name + 1 == names.size()) continue;
      if (!folder) return true;
      if (index.node(at).child != kNoNode) pending.push_back({index.node(at).child, chain.name + 1});
    } while ((at = index.node(at).next) != kNoNode);
  }
  return false;
}

// The file at `path` that an extraction leaves, planning that path alone
// as brq cat does; the answers are those of the whole plan, where
// path_alone_may_differ says no.
kelvarin_kind find_file_alone(kelvarin_archive* archive, const std::string& wanted, std::uint32_t& found) {
  const ArchiveIndex& index = *archive->index;
  SelectionRequest request;
  request.paths.push_back(wanted);
  const Result<ExtractionPlan> planned = ExtractionPlan::make(index, &request, kUsualCaseRule);
  if (!planned.ok()) return fail(archive, planned.error());
  const ExtractionPlan& plan = planned.value();

  // The entries listed at the path, in walk order, as the walk met them.
  struct Seen {
    std::uint32_t entry;
    std::uint32_t depth;
    std::string folder_path;
    bool is_folder;
    bool readable;
  };
  class Finder final : public PlanVisitor {
   public:
    Finder(const std::vector<std::uint32_t>& named, const std::string& wanted, std::vector<Seen>& seen)
        : named_(named), wanted_(wanted), seen_(seen) {}
    bool enter_folder(const EntryVisit& folder, const PlannedEntry&) override {
      // What it holds lies below the path.
      return !note(folder);
    }
    void visit(const EntryVisit& entry, const PlannedEntry&) override { note(entry); }

   private:
    bool note(const EntryVisit& visit) {
      if (std::find(named_.begin(), named_.end(), visit.entry) == named_.end()) return false;
      if (listed_path(visit) != wanted_) return false;
      seen_.push_back(
          {visit.entry, visit.depth, std::string(visit.folder_path), visit.is_folder, visit.name_readable});
      return true;
    }
    const std::vector<std::uint32_t>& named_;
    const std::string& wanted_;
    std::vector<Seen>& seen_;
  };
  std::vector<Seen> seen;
  Finder finder(plan.named()[0], wanted, seen);
  plan.replay(index, finder);
  if (seen.empty()) return fail(archive, KELVARIN_NOT_FOUND, nothing_named(wanted, index.path()));
  // The one reads answer for, or the file that replaced it.
  const Seen* at = &seen[answering(seen.size(), [&](std::size_t i) { return plan[seen[i].entry].fate; })];
  if (plan[at->entry].fate == Fate::replaced) {
    for (const Seen& later : seen) {
      if (plan[later.entry].fate == Fate::file && plan[later.entry].place() == seen[0].entry) at = &later;
    }
  }
  const EntryVisit visit{at->entry,     at->depth,   at->folder_path, at->readable ? index.name(at->entry) : "",
                         at->is_folder, at->readable};
  return file_of(archive, visit, plan[at->entry], found);
}

// The file at `path` that an extraction leaves: MISUSE, NOT_FOUND,
// NOT_A_FILE or the entry's refusal on the handle otherwise.
kelvarin_kind find_file(kelvarin_archive* archive, const char* path, std::uint32_t& found) {
  if (const kelvarin_kind closed = need_open(archive); closed != KELVARIN_OK) return closed;
  if (path == nullptr) return fail(archive, KELVARIN_MISUSE, "no path (a null pointer)");
  if (!archive->plan) {
    // Before the whole plan is made, a plain path is planned alone.
    const std::string wanted = normalise_entry_path(path);
    if (!wanted.empty() && !has_wildcards(wanted) && !path_alone_may_differ(*archive->index, wanted)) {
      return find_file_alone(archive, wanted, found);
    }
  }
  std::uint32_t position = 0;
  if (const kelvarin_kind located = locate(archive, path, position); located != KELVARIN_OK) return located;
  std::string folder_path;
  const EntryVisit visit = archive->visit_at(position, folder_path);
  return file_of(archive, visit, (*archive->plan)[visit.entry], found);
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
