// Running the built executables from a test, on each OS the suite runs on.
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

std::string shell_quoted(const std::string& arg) {
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

RunResult run_shell(const std::string& command) {
  RunResult result;
#ifndef _WIN32
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
#error "run_shell needs its Windows implementation"
#endif
  return result;
}

namespace {

std::string command_line(const char* exe, const std::vector<std::string>& args) {
  std::string command = shell_quoted(exe);
  for (const std::string& arg : args) command += " " + shell_quoted(arg);
  return command;
}

}  // namespace

RunResult run_program(const std::vector<std::string>& args) {
  return run_shell(command_line(KELVARIN_EXE, args));
}

RunResult run_brq(const std::vector<std::string>& args) {
  TempDir scratch;
  const fs::path err = scratch / "stderr";
  RunResult result = run_shell(command_line(BRQ_EXE, args) + " 2>" + shell_quoted(err.string()));
  result.err = read_file(err);
  return result;
}

}  // namespace kelvarin::testing
