/* libkelvarin: reading, checking and extracting .brq archives from C and
 * C++, the engine of Kelvarin_Extract and brq behind opaque handles.
 *
 * Every call answers with a kelvarin_kind (KELVARIN_OK is 0); the handle
 * keeps the last failure's kind and a message in English the caller may
 * show. The library never prints, never exits and never lets an exception
 * out; it calls back only on the thread that made the call.
 *
 * Threads: calls on one handle must not run at once (none of them, reads
 * included); calls on different handles may, all of them. A handle may move
 * between threads between calls.
 *
 * Strings going in are NUL-terminated UTF-8 (paths on disk) or bytes
 * (paths inside an archive, as stored); strings coming out belong to the
 * handle and stay valid until the next call on it.
 *
 * Options structs begin with `struct_size`: set it to sizeof the struct
 * (the header's own kelvarin_*_options_init do, inline, with the size this
 * header gives it), so that a later library that adds fields still reads an
 * older caller's struct. A null options pointer means the defaults. */
#ifndef KELVARIN_H
#define KELVARIN_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* On Windows, a program linking the static library defines KELVARIN_STATIC
   (the CMake package and pkg-config's --static do it). */
#if defined(_WIN32) && defined(KELVARIN_BUILDING)
#  define KELVARIN_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(KELVARIN_STATIC)
#  define KELVARIN_API __declspec(dllimport)
#elif defined(_WIN32)
#  define KELVARIN_API
#elif defined(__GNUC__)
#  define KELVARIN_API __attribute__((visibility("default")))
#else
#  define KELVARIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; the build checks it against the project's. */
#define KELVARIN_VERSION_MAJOR 1
#define KELVARIN_VERSION_MINOR 2
#define KELVARIN_VERSION_PATCH 0
#define KELVARIN_ABI_VERSION 1 /* the shared library's SONAME number: libkelvarin.so.1 */

/* "1.2.0": the version of the library actually loaded. */
KELVARIN_API const char *kelvarin_version(void);

/* What a call came to. 0 is success; every failure is a kind. */
typedef enum kelvarin_kind {
  KELVARIN_OK = 0,
  KELVARIN_PARTIAL,     /* it ran, but some entries were left out or failed (the events said which) */
  KELVARIN_STOPPED,     /* a callback asked to stop */
  KELVARIN_MISUSE,      /* a null or closed handle, a bad argument */
  KELVARIN_BAD_ARCHIVE, /* not an archive of this format, or its index is unusable */
  KELVARIN_NOT_FOUND,   /* no such entry, file or folder */
  KELVARIN_NAME_TAKEN,
  KELVARIN_NOT_A_FOLDER,
  KELVARIN_ENDED_EARLY, /* a file or archive ends before the bytes asked of it */
  KELVARIN_NO_MEMORY,
  KELVARIN_NO_SPACE,
  KELVARIN_READ_ONLY,
  KELVARIN_LOCKED, /* another process holds it (an edit in progress) */
  KELVARIN_IO,     /* any other failure of the system */
  KELVARIN_NOT_A_FILE, /* a path to read names a folder */
} kelvarin_kind;

/* The kind's name without its prefix, in lower case ("not_found"); "unknown"
   for a value this library doesn't know. */
KELVARIN_API const char *kelvarin_kind_name(kelvarin_kind kind);

/* ---- The handle ---- */

typedef struct kelvarin_archive kelvarin_archive; /* opaque */

/* Caller-supplied reading (memory, a browser file, a network range). */
typedef struct kelvarin_reader {
  void *user;
  uint64_t size; /* the archive's size in bytes */
  /* Reads up to `count` bytes at `position` into `buffer`: returns how many
     (0 only at the end), or -1 on failure. */
  int64_t (*read)(void *user, uint64_t position, void *buffer, size_t count);
  void (*close)(void *user); /* may be NULL; called once when the handle is freed */
} kelvarin_reader;

/* A handle with no archive open. NULL only when memory runs out. */
KELVARIN_API kelvarin_archive *kelvarin_archive_new(void);
/* Opens the archive at `path` (UTF-8) and loads and checks its index; an
   archive open on the handle before is closed first, whatever the outcome. */
KELVARIN_API kelvarin_kind kelvarin_open_path(kelvarin_archive *archive, const char *path);
/* The same, reading through `reader` (copied; its `close` is called once the
   handle lets it go, also when the open fails). */
KELVARIN_API kelvarin_kind kelvarin_open_reader(kelvarin_archive *archive, const kelvarin_reader *reader);
/* Closes what the handle has open and frees it. NULL is fine. */
KELVARIN_API void kelvarin_archive_free(kelvarin_archive *archive);

/* The last failure on this handle: its kind and a message in English the
   caller may show (the programs' own words). Valid until the next call on the
   handle. KELVARIN_OK and "" after a success. */
KELVARIN_API kelvarin_kind kelvarin_error_kind(const kelvarin_archive *archive);
KELVARIN_API const char *kelvarin_error_message(const kelvarin_archive *archive);

/* ---- The plan: what an extraction of the whole archive makes of each entry ---- */

typedef enum kelvarin_entry_kind { KELVARIN_FILE = 1, KELVARIN_FOLDER = 2 } kelvarin_entry_kind;

typedef enum kelvarin_fate {
  KELVARIN_WRITTEN = 1, /* a file written, or a folder made */
  KELVARIN_MERGED,      /* a folder merged into an earlier one of its name, or one without a name */
  KELVARIN_REPLACED,    /* a file written, then replaced by a later file of its name */
  KELVARIN_LEFT_OUT,    /* left out with all it holds: `reason` says why */
} kelvarin_fate;

typedef enum kelvarin_reason {
  KELVARIN_NO_REASON = 0,
  KELVARIN_DAMAGED,   /* the index marks the entry damaged */
  KELVARIN_BAD_NAME,  /* its name can't stand on disk */
  KELVARIN_TOO_DEEP,
  KELVARIN_PATH_TOO_LONG,
  KELVARIN_FILE_HOLDS_NAME,   /* a folder whose name an earlier file took */
  KELVARIN_FOLDER_HOLDS_NAME, /* a file whose name an earlier folder took */
  KELVARIN_CASE_TWIN,         /* where case is ignored, an earlier file holds its name */
} kelvarin_reason;

typedef struct kelvarin_entry {
  uint32_t number;  /* the entry's number in the index */
  uint32_t depth;   /* 1 for what the root holds */
  const char *path; /* '/'-joined names as stored (bytes, maybe not UTF-8), NUL-terminated,
                       "" for the usual root (its name is empty); valid until the next call
                       on the handle */
  size_t path_size; /* bytes, without the NUL */
  kelvarin_entry_kind kind;
  uint64_t size;          /* a file's bytes; 0 for a folder */
  uint64_t data_position; /* where a file's bytes start in the archive (0 for folders) */
  kelvarin_fate fate;
  kelvarin_reason reason; /* for KELVARIN_LEFT_OUT */
  uint64_t inside_count;  /* an entry left out: how many entries it took with it */
  const char *message;    /* an entry left out: the programs' words for why; else "" */
} kelvarin_entry;

/* The entries of the whole archive's plan, in walk order, as `brq list --all`
   shows them; 0 for a handle with no archive open. The plan is made by the
   first call that needs it (this one, kelvarin_entry_at, kelvarin_find,
   kelvarin_check), not by opening: where memory runs out making it, 0, with
   KELVARIN_NO_MEMORY on the handle. */
KELVARIN_API size_t kelvarin_entry_count(kelvarin_archive *archive);
/* The entry at `position` (0 to kelvarin_entry_count() - 1). */
KELVARIN_API kelvarin_kind kelvarin_entry_at(kelvarin_archive *archive, size_t position, kelvarin_entry *entry);

/* The entry at `path` (as kelvarin_read takes it), its position for
   kelvarin_entry_at in `*position`: the file extraction leaves there (of a
   name held twice, the later file; an entry left out before it doesn't hide
   it), else the first entry listed there in walk order. KELVARIN_NOT_FOUND
   where nothing is listed at `path`. */
KELVARIN_API kelvarin_kind kelvarin_find(kelvarin_archive *archive, const char *path, size_t *position);

/* ---- Reading a file ---- */

/* A file's bytes, by its path as listed (for a replaced name, the file
   extraction leaves): `count` bytes from `offset` into `buffer`; `*done` gets
   how many (fewer only at its end; 0 at or past it, which is no failure).
   `path` takes '\' as well as '/' and an optional leading separator. */
KELVARIN_API kelvarin_kind kelvarin_read(kelvarin_archive *archive, const char *path, uint64_t offset,
                                         void *buffer, size_t count, size_t *done);

/* Takes bytes as they are read: nonzero to stop (the call then answers
   KELVARIN_STOPPED). */
typedef int (*kelvarin_write_fn)(void *user, const void *bytes, size_t count);

/* The whole file at `path`, handed to `write` in chunks of at most 1000 KiB. */
KELVARIN_API kelvarin_kind kelvarin_read_to(kelvarin_archive *archive, const char *path,
                                            kelvarin_write_fn write, void *user);

/* ---- Events ---- */

typedef enum kelvarin_event_kind {
  KELVARIN_EVENT_WRITTEN = 1, /* a file written whole */
  KELVARIN_EVENT_SKIPPED,     /* a file left alone, its name held before (skip_existing) */
  KELVARIN_EVENT_LEFT_OUT,    /* an entry left out: `reason`, `inside_count`, `message` */
  KELVARIN_EVENT_FAILED,      /* a file or folder that failed: `error`, `path`, `message` */
  KELVARIN_EVENT_PROGRESS,    /* after each file: the counts below */
  KELVARIN_EVENT_ADDED,       /* an edit (or a dry run) adds `path`: a folder with `inside_count` entries */
  KELVARIN_EVENT_REMOVED,     /* ... removes `path`, likewise */
  KELVARIN_EVENT_CHANGED,     /* ... replaces the file `path` */
  KELVARIN_EVENT_MOVED,       /* ... moves `path` to `to` */
} kelvarin_event_kind;

typedef struct kelvarin_event {
  kelvarin_event_kind kind;
  const char *path; /* the entry's '/'-joined path as stored ("" for progress) */
  size_t path_size;
  uint32_t number;        /* the entry's number in the index */
  uint64_t size;          /* a file's bytes */
  kelvarin_reason reason; /* LEFT_OUT */
  uint64_t inside_count;  /* LEFT_OUT, FAILED: the entries it took with it */
  kelvarin_kind error;    /* FAILED */
  const char *message;    /* LEFT_OUT, FAILED: one line, the programs' words; else "" */
  uint64_t files_done, files_total;
  uint64_t bytes_done, bytes_total;
  const char *to; /* MOVED: the new path; else "" */
  size_t to_size;
  uint32_t entry_kind; /* a kelvarin_entry_kind: what `path` is (0 for progress) */
} kelvarin_event;

/* Told of each event, on the calling thread, in the walk's order: nonzero to
   stop (the call then answers KELVARIN_STOPPED; what was written stays). The
   event and its strings are valid during the call only. */
typedef int (*kelvarin_event_fn)(void *user, const kelvarin_event *event);

/* ---- Extraction ---- */

typedef struct kelvarin_extract_options {
  size_t struct_size;
  unsigned jobs;      /* workers writing at once; 0: one per processor, at most 8 */
  int skip_existing;  /* leave a name held before the run as it is */
  int make_parents;   /* make the destination's missing parents too */
  int ignore_case;    /* paths and patterns match in any ASCII case */
  const char *const *paths; /* paths and patterns, as brq extract takes them; none: everything */
  size_t path_count;
  const char *const *excludes; /* patterns left out with all they hold */
  size_t exclude_count;
  kelvarin_event_fn on_event; /* may be NULL */
  void *user;
} kelvarin_extract_options;

/* The defaults, and this header's struct_size. Inline: a library newer
   than the caller's header never writes past the caller's struct. */
static inline void kelvarin_extract_options_init(kelvarin_extract_options *options) {
  if (options == NULL) return;
  memset(options, 0, sizeof *options);
  options->struct_size = sizeof *options;
}

/* Extracts into the folder `destination` (UTF-8; made, one level deep, when
   missing). KELVARIN_OK only when everything asked for was written whole;
   KELVARIN_PARTIAL when some entry was left out or failed, or a path named
   nothing (the events say which); another kind when the destination can't
   be used (then nothing was made). */
KELVARIN_API kelvarin_kind kelvarin_extract(kelvarin_archive *archive, const char *destination,
                                            const kelvarin_extract_options *options);

/* ---- Checking ---- */

typedef struct kelvarin_check_result {
  size_t struct_size;
  int sound;                  /* 1 when an extraction would leave nothing out, and no data lie in the index */
  uint64_t entries;           /* the entries the walk reaches */
  uint64_t folders;
  uint64_t files;
  uint64_t total_bytes;       /* the files' bytes */
  uint64_t left_out;          /* entries left out, each with all it holds */
  uint64_t damaged;           /* of those, entries the index marks damaged */
  uint64_t unused_bytes;      /* bytes in no file's data and not the index */
  uint64_t unreachable;       /* entries linked from nowhere (never extracted; not a problem) */
  uint64_t case_twins;        /* names that differ only in case from an earlier one in their folder */
  uint64_t data_inside_index; /* files whose data begin inside the index */
} kelvarin_check_result;

/* The facts `brq check` gives. `result->struct_size` must be set. The entries
   left out are those of kelvarin_entry_at() with fate KELVARIN_LEFT_OUT. */
KELVARIN_API kelvarin_kind kelvarin_check(kelvarin_archive *archive, kelvarin_check_result *result);

/* ---- Making and changing archives ---- */

typedef struct kelvarin_pack_options {
  size_t struct_size;
  const char *const *excludes; /* patterns of what is not packed, with all it holds */
  size_t exclude_count;
  int allow_unportable;        /* take names Windows can't hold, and case twins */
  int dereference;             /* follow links to files and folders */
  kelvarin_event_fn on_event;  /* LEFT_OUT for what an archive can't hold; PROGRESS */
  void *user;
} kelvarin_pack_options;

/* The defaults, and this header's struct_size. Inline: a library newer
   than the caller's header never writes past the caller's struct. */
static inline void kelvarin_pack_options_init(kelvarin_pack_options *options) {
  if (options == NULL) return;
  memset(options, 0, sizeof *options);
  options->struct_size = sizeof *options;
}

/* Makes the archive `archive_path` of `paths` below the folder `folder` (all
   of it where `path_count` is 0), as `brq pack` does: written whole under a
   temporary name, then named. What an archive can't hold is left out
   (KELVARIN_PARTIAL); a name Windows can't hold refuses the pack
   (KELVARIN_PARTIAL, nothing written) unless allowed. On success the handle
   has the new archive open. */
KELVARIN_API kelvarin_kind kelvarin_pack(kelvarin_archive *archive, const char *archive_path, const char *folder,
                                         const char *const *paths, size_t path_count,
                                         const kelvarin_pack_options *options);

typedef struct kelvarin_edit_options {
  size_t struct_size;
  int dry_run;                 /* tell the changes, change nothing */
  const char *directory;       /* add: where its paths are taken from; NULL: the current folder */
  const char *const *excludes; /* add, sync: patterns of what is not taken from disk */
  size_t exclude_count;
  int allow_unportable;        /* take names Windows can't hold, and case twins */
  int dereference;             /* add, sync: follow links to files and folders */
  kelvarin_event_fn on_event;  /* ADDED, REMOVED, CHANGED, MOVED, in the tree's order; PROGRESS */
  void *user;
  int drop_damaged; /* an archive some entry of which an extraction leaves out is refused, unless
                       this leaves them out of the edited archive (LEFT_OUT tells each) */
} kelvarin_edit_options;

/* The defaults, and this header's struct_size. Inline: a library newer
   than the caller's header never writes past the caller's struct. */
static inline void kelvarin_edit_options_init(kelvarin_edit_options *options) {
  if (options == NULL) return;
  memset(options, 0, sizeof *options);
  options->struct_size = sizeof *options;
}

/* The edits change the archive the handle has open from a path, in place of
   a rebuild, as `brq add`, `rm`, `mv` and `sync` do: locked against other
   edits (KELVARIN_LOCKED), written beside it and put in its place in one
   step; the handle then has the edited archive open (the archive as it was,
   where nothing changed). A refused edit changes nothing: KELVARIN_PARTIAL
   for what the events told of (a name Windows can't hold, entries left
   out), the kind of the refusal otherwise (KELVARIN_NOT_FOUND,
   KELVARIN_NAME_TAKEN...). Paths that name nothing in a removal are told
   as FAILED events and the rest is removed (KELVARIN_PARTIAL). */
KELVARIN_API kelvarin_kind kelvarin_add(kelvarin_archive *archive, const char *const *paths, size_t path_count,
                                        const kelvarin_edit_options *options);
KELVARIN_API kelvarin_kind kelvarin_remove(kelvarin_archive *archive, const char *const *paths, size_t path_count,
                                           const kelvarin_edit_options *options);
KELVARIN_API kelvarin_kind kelvarin_move(kelvarin_archive *archive, const char *from, const char *to,
                                         const kelvarin_edit_options *options);
KELVARIN_API kelvarin_kind kelvarin_sync(kelvarin_archive *archive, const char *folder,
                                         const kelvarin_edit_options *options);

#ifdef __cplusplus
}
#endif

#endif /* KELVARIN_H */
