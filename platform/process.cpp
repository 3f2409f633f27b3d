// The frame of main(), the same on every OS.
#include "platform/process.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace kelvarin::platform {

int run_main(int argc, char** argv, int (*entry)(int argc, char** argv), int (*out_of_memory)()) {
  os::prepare_process();
  // One line per file: when nobody watches, write them in large blocks
  // instead of one system call per line.
  if (!is_terminal(stdout)) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  int status = 0;
  try {
    std::vector<std::string> arguments = os::utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    status = entry(static_cast<int>(arguments.size()), pointers.data());
  } catch (const std::bad_alloc&) {
    status = out_of_memory();
  }
  std::fflush(stdout);
  return status;
}

unsigned processor_count() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : processors;
}

}  // namespace kelvarin::platform
