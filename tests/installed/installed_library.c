/* The installed library from C: its version is its header's, it reads and
 * extracts the sample archive, and misuse is an answer, not a crash.
 *
 *   installed_library SAMPLE.brq DESTINATION
 *
 * Exits 0 when every check held, else 1 after naming the first that
 * didn't. */
#include <stdio.h>
#include <string.h>

#include <kelvarin.h>

#define CHECK(condition)                                           \
  do {                                                             \
    if (!(condition)) {                                            \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      return 1;                                                    \
    }                                                              \
  } while (0)

static int count_written(void *user, const kelvarin_event *event) {
  if (event->kind == KELVARIN_EVENT_WRITTEN) ++*(int *)user;
  return 0;
}

int main(int argc, char **argv) {
  char version[32];
  char bytes[128];
  size_t done = 0;
  int written = 0;
  kelvarin_extract_options options;
  kelvarin_check_result check;
  kelvarin_archive *archive;

  CHECK(argc == 3);
  sprintf(version, "%d.%d.%d", KELVARIN_VERSION_MAJOR, KELVARIN_VERSION_MINOR, KELVARIN_VERSION_PATCH);
  CHECK(strcmp(kelvarin_version(), version) == 0);
  CHECK(kelvarin_open_path(NULL, argv[1]) == KELVARIN_MISUSE);

  archive = kelvarin_archive_new();
  CHECK(archive != NULL);
  CHECK(kelvarin_read(archive, "readme.txt", 0, bytes, sizeof bytes, &done) == KELVARIN_MISUSE);
  CHECK(kelvarin_open_path(archive, argv[1]) == KELVARIN_OK);
  CHECK(kelvarin_entry_count(archive) == 10);
  CHECK(kelvarin_read(archive, "readme.txt", 0, bytes, sizeof bytes, &done) == KELVARIN_OK);
  CHECK(done == 68);

  memset(&check, 0, sizeof check);
  check.struct_size = sizeof check;
  CHECK(kelvarin_check(archive, &check) == KELVARIN_OK);
  CHECK(check.sound && check.files == 5 && check.total_bytes == 5360);

  kelvarin_extract_options_init(&options);
  options.on_event = count_written;
  options.user = &written;
  CHECK(kelvarin_extract(archive, argv[2], &options) == KELVARIN_OK);
  CHECK(written == 5);
  kelvarin_archive_free(archive);
  return 0;
}
