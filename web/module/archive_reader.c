/* The module's own entry points: an archive read through the worker's
   File, a range at a time, and the offsets of kelvarin_entry's fields, so
   that the worker reads entries without assuming the compiler's layout. */
#include <emscripten.h>
#include <stddef.h>
#include <stdint.h>

#include "kelvarin.h"

/* Calls the worker's reader (worker.js): returns the bytes copied into the
   module's memory at `buffer`, or -1. Positions travel as doubles, exact up
   to 2^53 bytes, since the module is built without BigInt. */
EM_JS(double, read_from_worker, (double position, void *buffer, double count), {
  return Module.readArchive(position, buffer, count);
})

static int64_t read_range(void *user, uint64_t position, void *buffer, size_t count) {
  (void)user;
  return (int64_t)read_from_worker((double)position, buffer, (double)count);
}

kelvarin_kind EMSCRIPTEN_KEEPALIVE kelvarin_web_open(kelvarin_archive *archive, double size) {
  kelvarin_reader reader = {NULL, (uint64_t)size, read_range, NULL};
  return kelvarin_open_reader(archive, &reader);
}

static const uint32_t kEntryLayout[] = {
    sizeof(kelvarin_entry),
    offsetof(kelvarin_entry, number),
    offsetof(kelvarin_entry, depth),
    offsetof(kelvarin_entry, path),
    offsetof(kelvarin_entry, path_size),
    offsetof(kelvarin_entry, kind),
    offsetof(kelvarin_entry, size),
    offsetof(kelvarin_entry, fate),
    offsetof(kelvarin_entry, reason),
    offsetof(kelvarin_entry, inside_count),
    offsetof(kelvarin_entry, message),
};

const uint32_t *EMSCRIPTEN_KEEPALIVE kelvarin_web_entry_layout(void) { return kEntryLayout; }
