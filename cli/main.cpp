// Kelvarin_Extract: the executable over the library.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/run_extract.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  kelvarin::platform::prepare_stdout();
  // One line per file: when nobody watches, write them in large blocks
  // instead of one system call per line.
  if (!kelvarin::platform::is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  std::vector<std::string> arguments = kelvarin::platform::utf8_arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int status = kelvarin::run_extract(static_cast<int>(arguments.size()), pointers.data());
  std::fflush(stdout);
  return status;
}
