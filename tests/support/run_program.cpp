// Running the built executable from a test, on each OS the suite runs on.
#include <cstdio>

#include "support/test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace kelvarin::testing {

#ifdef _WIN32
const int kUsageExitStatus = -1;
#else
const int kUsageExitStatus = 255;
#endif

namespace {

#ifndef _WIN32
std::string quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}
#endif

}  // namespace

RunResult run_program(const std::vector<std::string>& args) {
  RunResult result;
#ifndef _WIN32
  std::string command = quoted(KELVARIN_EXE);
  for (const std::string& arg : args) command += " " + quoted(arg);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    result.status = -1000;
    return result;
  }
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  int wait_status = ::pclose(pipe);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1000;
#else
#error "run_program needs its Windows implementation"
#endif
  return result;
}

}  // namespace kelvarin::testing
