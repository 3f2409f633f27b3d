// The common frame of the executables' main functions.
#include "cli/program_main.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kelvarin {

int run_program_main(int argc, char** argv, int (*entry)(int, char**)) {
  platform::prepare_output_streams();
  // One line per file: when nobody watches, write them in large blocks
  // instead of one system call per line.
  if (!platform::is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  std::vector<std::string> arguments = platform::utf8_arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int status = entry(static_cast<int>(arguments.size()), pointers.data());
  std::fflush(stdout);
  return status;
}

}  // namespace kelvarin
