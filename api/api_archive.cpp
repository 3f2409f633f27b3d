// Opening an archive on a handle, from a path or through the caller's
// reader, and its plan entry by entry in the walk's order.
#include <memory>

#include "api/api_handle.h"
#include "messages/entry_messages.h"
#include "names/utf8.h"

namespace kelvarin::api {
namespace {

// What the failures of an archive read through a reader are named by.
constexpr const char* kReaderName = "the archive read through its reader";

// The caller's reader, closed once when the last copy of the index's
// reading function lets it go.
class CallerReader {
 public:
  explicit CallerReader(const kelvarin_reader& reader) : reader_(reader) {}
  ~CallerReader() {
    if (reader_.close != nullptr) reader_.close(reader_.user);
  }
  CallerReader(const CallerReader&) = delete;
  CallerReader& operator=(const CallerReader&) = delete;

  // Reads as the platform's read_at does: short only at the archive's end.
  Error read_at(std::uint64_t position, void* buffer, std::size_t length, std::size_t& got) const {
    got = 0;
    auto* into = static_cast<char*>(buffer);
    while (got < length && position + got < reader_.size) {
      const std::uint64_t left = reader_.size - (position + got);
      const std::size_t asked = left < length - got ? static_cast<std::size_t>(left) : length - got;
      const std::int64_t read = reader_.read(reader_.user, position + got, into + got, asked);
      if (read < 0) return Error::because("the reader failed", Error::Step::read);
      if (read == 0) break;
      if (static_cast<std::uint64_t>(read) > asked) {
        return Error::because("the reader gave more bytes than asked", Error::Step::read);
      }
      got += static_cast<std::size_t>(read);
    }
    return {};
  }

 private:
  kelvarin_reader reader_;
};

// Records the entries of the plan in the walk's order, each with the
// folder the walk found it in.
class Lister final : public PlanVisitor {
 public:
  explicit Lister(std::vector<ListedEntry>& listing) : listing_(listing) {}

  bool enter_folder(const EntryVisit& folder, const PlannedEntry&) override {
    note(folder);
    open_.push_back(static_cast<std::uint32_t>(listing_.size() - 1));
    return true;
  }
  void visit(const EntryVisit& entry, const PlannedEntry&) override { note(entry); }

 private:
  void note(const EntryVisit& visit) {
    // Whatever was open at its depth or below is done.
    open_.resize(visit.depth);
    listing_.push_back({visit.entry, visit.depth, visit.depth == 0 ? ListedEntry::kTop : open_.back()});
  }
  std::vector<ListedEntry>& listing_;
  std::vector<std::uint32_t> open_;  // the folders above, by depth
};

// Takes what `opened` holds onto the handle. The plan and the listing wait
// for the first call that needs them: reading one file plans that path alone.
kelvarin_kind take(kelvarin_archive* archive, OpenedIndex opened, std::string path) {
  if (!opened.ok()) {
    const kelvarin_kind kind = opened.error().is_ended_early() || opened.error().is_unusable()
                                   ? KELVARIN_BAD_ARCHIVE
                                   : kind_of(opened.error());
    return fail(archive, kind, archive_problem(opened));
  }
  archive->index.emplace(std::move(opened.value()));
  archive->opened_path = std::move(path);
  return succeed(archive);
}

kelvarin_fate fate_of(const PlannedEntry& planned) {
  switch (planned.fate) {
    case Fate::folded:
    case Fate::merged: return KELVARIN_MERGED;
    case Fate::replaced: return KELVARIN_REPLACED;
    case Fate::left_out: return KELVARIN_LEFT_OUT;
    default: return KELVARIN_WRITTEN;
  }
}

}  // namespace

kelvarin_reason reason_of(Refusal refusal) {
  switch (refusal) {
    case Refusal::none: return KELVARIN_NO_REASON;
    case Refusal::damaged: return KELVARIN_DAMAGED;
    case Refusal::bad_name: return KELVARIN_BAD_NAME;
    case Refusal::too_deep: return KELVARIN_TOO_DEEP;
    case Refusal::path_too_long: return KELVARIN_PATH_TOO_LONG;
    case Refusal::file_holds_name: return KELVARIN_FILE_HOLDS_NAME;
    case Refusal::folder_holds_name: return KELVARIN_FOLDER_HOLDS_NAME;
    case Refusal::case_twin: return KELVARIN_CASE_TWIN;
  }
  return KELVARIN_NO_REASON;
}

kelvarin_kind need_listing(kelvarin_archive* archive) {
  if (const kelvarin_kind closed = need_open(archive); closed != KELVARIN_OK) return closed;
  if (archive->plan) return KELVARIN_OK;
  Result<ExtractionPlan> plan = ExtractionPlan::make(*archive->index, nullptr, kUsualCaseRule);
  if (!plan.ok()) return fail(archive, plan.error());
  // Made apart, so that running out of memory half way leaves none.
  std::vector<ListedEntry> listing;
  Lister lister(listing);
  plan.value().replay(*archive->index, lister);
  archive->plan.emplace(std::move(plan.value()));
  archive->listing = std::move(listing);
  return KELVARIN_OK;
}

kelvarin_kind open_on(kelvarin_archive* archive, std::string path) {
  archive->close();
  OpenedIndex opened = ArchiveIndex::open(path);
  return take(archive, std::move(opened), std::move(path));
}

}  // namespace kelvarin::api

using namespace kelvarin;
using namespace kelvarin::api;

extern "C" {

kelvarin_kind kelvarin_open_path(kelvarin_archive* archive, const char* path) {
  if (archive == nullptr) return KELVARIN_MISUSE;
  return guarded(archive, [&] {
    archive->close();
    if (path == nullptr) return fail(archive, KELVARIN_MISUSE, "no path (a null pointer)");
    if (!is_utf8(path)) return fail(archive, KELVARIN_MISUSE, "the path is not UTF-8");
    return open_on(archive, path);
  });
}

kelvarin_kind kelvarin_open_reader(kelvarin_archive* archive, const kelvarin_reader* reader) {
  if (archive == nullptr) {
    if (reader != nullptr && reader->close != nullptr) reader->close(reader->user);
    return KELVARIN_MISUSE;
  }
  return guarded(archive, [&] {
    archive->close();
    if (reader == nullptr) return fail(archive, KELVARIN_MISUSE, "no reader (a null pointer)");
    std::shared_ptr<CallerReader> caller;
    try {
      caller = std::make_shared<CallerReader>(*reader);
    } catch (...) {
      if (reader->close != nullptr) reader->close(reader->user);
      throw;
    }
    if (reader->read == nullptr) return fail(archive, KELVARIN_MISUSE, "the reader has no read function");
    platform::ReadAt read = [caller](std::uint64_t position, void* buffer, std::size_t length, std::size_t& got) {
      return caller->read_at(position, buffer, length, got);
    };
    return take(archive, ArchiveIndex::open(kReaderName, reader->size, std::move(read)), {});
  });
}

size_t kelvarin_entry_count(kelvarin_archive* archive) {
  if (archive == nullptr || !archive->is_open()) return 0;
  return guarded(archive, [&] { return need_listing(archive); }) == KELVARIN_OK ? archive->listing.size() : 0;
}

kelvarin_kind kelvarin_entry_at(kelvarin_archive* archive, size_t position, kelvarin_entry* entry) {
  return guarded(archive, [&] {
    if (const kelvarin_kind listed = need_listing(archive); listed != KELVARIN_OK) return listed;
    if (entry == nullptr) return fail(archive, KELVARIN_MISUSE, "no entry to fill (a null pointer)");
    if (position >= archive->listing.size()) {
      return fail(archive, KELVARIN_MISUSE,
                  "entry position " + std::to_string(position) + " is past the last, " +
                      std::to_string(archive->listing.size()) + " entries");
    }
    const ArchiveIndex& index = *archive->index;
    std::string folder_path;
    const EntryVisit visit = archive->visit_at(position, folder_path);
    const PlannedEntry& planned = (*archive->plan)[visit.entry];
    archive->entry_path = listed_path(visit);
    archive->entry_message.clear();
    if (planned.fate == Fate::left_out) archive->entry_message = one_line(left_out_line(index, visit, planned));
    *entry = {};
    entry->number = visit.entry;
    entry->depth = visit.depth;
    entry->path = archive->entry_path.c_str();
    entry->path_size = archive->entry_path.size();
    entry->kind = visit.is_folder ? KELVARIN_FOLDER : KELVARIN_FILE;
    if (!visit.is_folder) {
      const std::int32_t size = index.node(visit.entry).file_size;
      entry->size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
      entry->data_position = index.data_position(visit.entry).value_or(0);
    }
    entry->fate = fate_of(planned);
    entry->reason = reason_of(planned.refusal);
    entry->inside_count = planned.inside();
    entry->message = archive->entry_message.c_str();
    return succeed(archive);
  });
}

}  // extern "C"
