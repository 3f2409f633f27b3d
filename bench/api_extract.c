/* The benchmarks' client of libkelvarin: an extraction, or one file read,
 * through the C API alone, as a program built on the library would do them.
 *
 *   api_extract extract ARCHIVE DEST   the whole archive into DEST
 *   api_extract cat ARCHIVE PATH       the file at PATH to standard output
 *
 * KELVARIN_JOBS, as for Kelvarin_Extract, sets the workers of an extraction.
 * Status 0 when all was done, 1 when the archive or destination can't be
 * used, 2 when some entry was left out or failed, 64 for a wrong command
 * line. */
#include <kelvarin.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int write_out(void *user, const void *bytes, size_t count) {
  return fwrite(bytes, 1, count, (FILE *)user) != count;
}

int main(int argc, char **argv) {
  if (argc != 4 || (strcmp(argv[1], "extract") != 0 && strcmp(argv[1], "cat") != 0)) {
    fprintf(stderr, "usage: %s extract ARCHIVE DEST | cat ARCHIVE PATH\n", argv[0]);
    return 64;
  }
  kelvarin_archive *archive = kelvarin_archive_new();
  if (archive == NULL) {
    fprintf(stderr, "no memory\n");
    return 1;
  }
  kelvarin_kind kind = kelvarin_open_path(archive, argv[2]);
  if (kind == KELVARIN_OK && strcmp(argv[1], "extract") == 0) {
    kelvarin_extract_options options;
    kelvarin_extract_options_init(&options);
    const char *jobs = getenv("KELVARIN_JOBS");
    if (jobs != NULL) options.jobs = (unsigned)strtoul(jobs, NULL, 10);
    kind = kelvarin_extract(archive, argv[3], &options);
  } else if (kind == KELVARIN_OK) {
    kind = kelvarin_read_to(archive, argv[3], write_out, stdout);
    if (fflush(stdout) != 0 && kind == KELVARIN_OK) kind = KELVARIN_IO;
  }
  if (kind != KELVARIN_OK) fprintf(stderr, "%s\n", kelvarin_error_message(archive));
  kelvarin_archive_free(archive);
  return kind == KELVARIN_OK ? 0 : kind == KELVARIN_PARTIAL ? 2 : 1;
}
