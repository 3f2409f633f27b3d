/* Lists an archive's entries, then extracts it with a progress line:
 *
 *   list_and_extract ARCHIVE DESTINATION
 *
 * Exits 0 when everything was written, 1 when the archive or the
 * destination can't be used, 2 when some entry was left out or failed. */
#include <stdio.h>

#include <kelvarin.h>

static const char *fate_word(kelvarin_fate fate) {
  switch (fate) {
    case KELVARIN_WRITTEN: return "written";
    case KELVARIN_MERGED: return "merged";
    case KELVARIN_REPLACED: return "replaced";
    case KELVARIN_LEFT_OUT: return "left out";
  }
  return "?";
}

/* Called on this thread, in the walk's order; 0 goes on. */
static int on_event(void *user, const kelvarin_event *event) {
  (void)user;
  switch (event->kind) {
    case KELVARIN_EVENT_PROGRESS:
      fprintf(stderr, "\r%llu of %llu files", (unsigned long long)event->files_done,
              (unsigned long long)event->files_total);
      break;
    case KELVARIN_EVENT_LEFT_OUT:
    case KELVARIN_EVENT_FAILED:
      fprintf(stderr, "\nERROR: %s\n", event->message);
      break;
    default:
      break;
  }
  return 0;
}

int main(int argc, char **argv) {
  kelvarin_archive *archive;
  kelvarin_extract_options options;
  kelvarin_entry entry;
  kelvarin_kind kind;
  size_t i;

  if (argc != 3) {
    fprintf(stderr, "usage: %s ARCHIVE DESTINATION\n", argv[0]);
    return 64;
  }
  printf("libkelvarin %s\n", kelvarin_version());
  archive = kelvarin_archive_new();
  if (archive == NULL) return 1;
  if (kelvarin_open_path(archive, argv[1]) != KELVARIN_OK) {
    fprintf(stderr, "ERROR: %s\n", kelvarin_error_message(archive));
    kelvarin_archive_free(archive);
    return 1;
  }

  for (i = 0; i < kelvarin_entry_count(archive); ++i) {
    if (kelvarin_entry_at(archive, i, &entry) != KELVARIN_OK) break;
    printf("%-6s %10llu  %-8s  %s\n", entry.kind == KELVARIN_FOLDER ? "folder" : "file",
           (unsigned long long)entry.size, fate_word(entry.fate), entry.path_size > 0 ? entry.path : "/");
  }

  kelvarin_extract_options_init(&options);
  options.on_event = on_event;
  kind = kelvarin_extract(archive, argv[2], &options);
  fprintf(stderr, "\n");
  if (kind != KELVARIN_OK) fprintf(stderr, "%s: %s\n", kelvarin_kind_name(kind), kelvarin_error_message(archive));
  kelvarin_archive_free(archive);
  return kind == KELVARIN_OK ? 0 : kind == KELVARIN_PARTIAL ? 2 : 1;
}
