// Kelvarin_Extract: the executable over the library.
#include <cstdio>

#include "cli/run_extract.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // One line per file: when nobody watches, write them in large blocks
  // instead of one system call per line.
  if (!kelvarin::platform::is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  int status = kelvarin::run_extract(argc, argv);
  std::fflush(stdout);
  return status;
}
