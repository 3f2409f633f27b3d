// What a kelvarin_archive handle holds, and the rules every call of the C
// API keeps: a call answers with a kind and leaves its failure's message
// on the handle, and nothing thrown ever leaves it.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"
#include "extract/extraction_plan.h"
#include "kelvarin.h"
#include "names/name_table.h"
#include "platform/error.h"

// One entry of the whole archive's plan as the walk met it: twelve bytes,
// its path made again on demand from the folders above it.
struct ListedEntry {
  static constexpr std::uint32_t kTop = 0xFFFFFFFFu;
  std::uint32_t entry = 0;
  std::uint32_t depth = 0;
  // The listing position of the folder the walk found it in; kTop on the
  // top level.
  std::uint32_t folder = kTop;
};

// A listed path's hash and the listing position of the entry there: the
// lookup by path, sorted by hash and then position.
struct PathKey {
  std::uint32_t hash = 0;
  std::uint32_t position = 0;
};

struct kelvarin_archive {
  std::optional<kelvarin::ArchiveIndex> index;
  // The whole archive's plan, under this OS's usual case rule, and its
  // entries in walk order: made by the first call that needs them
  // (need_listing), as opening an archive only to read a file of it
  // shouldn't pay for planning all the others.
  std::optional<kelvarin::ExtractionPlan> plan;
  std::vector<ListedEntry> listing;
  // Every listed path by hash: made by the first lookup.
  std::vector<PathKey> paths;
  kelvarin::KeyedHash path_hash;
  // Opened from a path (the edits need one): that path.
  std::string opened_path;

  kelvarin_kind error_kind = KELVARIN_OK;
  std::string error_message;
  // Where a message couldn't be kept for want of memory.
  const char* fixed_message = nullptr;
  // What the last entry_at handed out.
  std::string entry_path;
  std::string entry_message;
  std::vector<char> buffer;

  bool is_open() const { return index.has_value(); }
  // The listed entry at `position` as the walk met it, its folders' path
  // made in `folder_path`.
  kelvarin::EntryVisit visit_at(std::size_t position, std::string& folder_path) const;
  // Its path as brq lists it.
  std::string path_at(std::size_t position) const;
  // The listing positions of the entries whose listed path is `path`
  // (normalised), in walk order.
  std::vector<std::uint32_t> positions_of(std::string_view path);

  void close() {
    listing.clear();
    listing.shrink_to_fit();
    paths.clear();
    paths.shrink_to_fit();
    plan.reset();
    index.reset();
    opened_path.clear();
  }
};

namespace kelvarin::api {

// The kind of a failure of the engine.
kelvarin_kind kind_of(const Error& error);

// Records a failure on the handle (where there is one) and answers it.
kelvarin_kind fail(kelvarin_archive* archive, kelvarin_kind kind, std::string_view message) noexcept;
kelvarin_kind fail(kelvarin_archive* archive, const Error& error) noexcept;
// Records success.
kelvarin_kind succeed(kelvarin_archive* archive) noexcept;

// Runs `body` (which answers a kelvarin_kind) with whatever it throws
// turned into a failure on the handle.
template <typename Body>
kelvarin_kind guarded(kelvarin_archive* archive, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(archive, KELVARIN_NO_MEMORY, "out of memory");
  } catch (...) {
    return fail(archive, KELVARIN_IO, "an unexpected failure inside the library");
  }
}

// Why the plan leaves an entry out, as the API names it.
kelvarin_reason reason_of(Refusal refusal);

// Opens the archive at `path` on the handle, closing what it had open.
kelvarin_kind open_on(kelvarin_archive* archive, std::string path);

// The words of one of the programs' lines: without "ERROR: " and its end.
std::string_view line_words(std::string_view line);

// The handle, open: MISUSE on the handle otherwise.
kelvarin_kind need_open(kelvarin_archive* archive);
// The handle, open, with the whole plan and its listing made: MISUSE or
// NO_MEMORY (nothing of them kept) on the handle otherwise.
kelvarin_kind need_listing(kelvarin_archive* archive);

// An options struct from the caller, of any size the caller's header gave
// it: the fields both know are copied, the rest keep their defaults.
// False where `struct_size` can't be that of any version of it.
template <typename Options>
bool copy_options(const Options* given, Options& options) {
  if (given == nullptr) return true;
  if (given->struct_size < sizeof(std::size_t)) return false;
  const std::size_t known = given->struct_size < sizeof(Options) ? given->struct_size : sizeof(Options);
  std::memcpy(static_cast<void*>(&options), given, known);
  options.struct_size = sizeof(Options);
  return true;
}

// The caller's strings, as a list; false where one is null.
bool string_list(const char* const* strings, std::size_t count, std::vector<std::string>& out);

}  // namespace kelvarin::api
