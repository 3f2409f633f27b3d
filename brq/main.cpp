// brq: the companion executable over the library.
#include <cstdio>

#include "brq/run_brq.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // A listing may run to millions of lines: when nobody watches, write them
  // in large blocks.
  if (!kelvarin::platform::is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  int status = kelvarin::brq::run_brq(argc, argv);
  std::fflush(stdout);
  return status;
}
