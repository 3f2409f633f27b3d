// The handle itself: made, freed, and the failure it keeps; the version
// and the kinds' names.
#include "api/api_handle.h"

namespace kelvarin::api {

kelvarin_kind kind_of(const Error& error) {
  switch (error.kind()) {
    case Error::Kind::none: return KELVARIN_OK;
    case Error::Kind::not_found: return KELVARIN_NOT_FOUND;
    case Error::Kind::name_taken:
    case Error::Kind::not_empty: return KELVARIN_NAME_TAKEN;
    case Error::Kind::locked: return KELVARIN_LOCKED;
    case Error::Kind::ended_early: return KELVARIN_ENDED_EARLY;
    case Error::Kind::no_memory: return KELVARIN_NO_MEMORY;
    case Error::Kind::unusable: return KELVARIN_BAD_ARCHIVE;
    case Error::Kind::not_a_folder: return KELVARIN_NOT_A_FOLDER;
    case Error::Kind::no_space: return KELVARIN_NO_SPACE;
    case Error::Kind::read_only: return KELVARIN_READ_ONLY;
    case Error::Kind::too_many_open:
    case Error::Kind::is_link:
    case Error::Kind::other: return KELVARIN_IO;
  }
  return KELVARIN_IO;
}

kelvarin_kind fail(kelvarin_archive* archive, kelvarin_kind kind, std::string_view message) noexcept {
  if (archive == nullptr) return kind;
  archive->error_kind = kind;
  try {
    archive->error_message.assign(message);
    archive->fixed_message = nullptr;
  } catch (...) {
    archive->fixed_message = "out of memory";
  }
  return kind;
}

kelvarin_kind fail(kelvarin_archive* archive, const Error& error) noexcept {
  try {
    return fail(archive, kind_of(error), error.message());
  } catch (...) {
    return fail(archive, kind_of(error), "out of memory");
  }
}

kelvarin_kind succeed(kelvarin_archive* archive) noexcept {
  if (archive == nullptr) return KELVARIN_OK;
  archive->error_kind = KELVARIN_OK;
  archive->error_message.clear();
  archive->fixed_message = nullptr;
  return KELVARIN_OK;
}

kelvarin_kind need_open(kelvarin_archive* archive) {
  if (archive == nullptr) return KELVARIN_MISUSE;
  if (!archive->is_open()) return fail(archive, KELVARIN_MISUSE, "no archive is open on this handle");
  return KELVARIN_OK;
}

std::string_view line_words(std::string_view line) {
  constexpr std::string_view kPrefix = "ERROR: ";
  if (line.substr(0, kPrefix.size()) == kPrefix) line.remove_prefix(kPrefix.size());
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

bool string_list(const char* const* strings, std::size_t count, std::vector<std::string>& out) {
  out.clear();
  if (count > 0 && strings == nullptr) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (strings[i] == nullptr) return false;
    out.emplace_back(strings[i]);
  }
  return true;
}

}  // namespace kelvarin::api

using namespace kelvarin;

extern "C" {

const char* kelvarin_version(void) { return KELVARIN_PROJECT_VERSION; }

const char* kelvarin_kind_name(kelvarin_kind kind) {
  switch (kind) {
    case KELVARIN_OK: return "ok";
    case KELVARIN_PARTIAL: return "partial";
    case KELVARIN_STOPPED: return "stopped";
    case KELVARIN_MISUSE: return "misuse";
    case KELVARIN_BAD_ARCHIVE: return "bad_archive";
    case KELVARIN_NOT_FOUND: return "not_found";
    case KELVARIN_NAME_TAKEN: return "name_taken";
    case KELVARIN_NOT_A_FOLDER: return "not_a_folder";
    case KELVARIN_ENDED_EARLY: return "ended_early";
    case KELVARIN_NO_MEMORY: return "no_memory";
    case KELVARIN_NO_SPACE: return "no_space";
    case KELVARIN_READ_ONLY: return "read_only";
    case KELVARIN_LOCKED: return "locked";
    case KELVARIN_IO: return "io";
    case KELVARIN_NOT_A_FILE: return "not_a_file";
  }
  return "unknown";
}

kelvarin_archive* kelvarin_archive_new(void) { return new (std::nothrow) kelvarin_archive(); }

void kelvarin_archive_free(kelvarin_archive* archive) {
  // Closing a reader calls back into the caller, which throws nothing.
  delete archive;
}

kelvarin_kind kelvarin_error_kind(const kelvarin_archive* archive) {
  return archive == nullptr ? KELVARIN_MISUSE : archive->error_kind;
}

const char* kelvarin_error_message(const kelvarin_archive* archive) {
  if (archive == nullptr) return "no handle (a null kelvarin_archive)";
  return archive->fixed_message != nullptr ? archive->fixed_message : archive->error_message.c_str();
}

}  // extern "C"
