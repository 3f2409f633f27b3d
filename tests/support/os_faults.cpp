// The OS faults of the fault tests: a file size limit that makes writes
// fail half-way, and a run stopped there and killed. POSIX only; elsewhere
// the tests that need them skip.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "cli/run_extract.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kelvarin::testing {

#ifndef _WIN32
namespace {

std::vector<char*> argv_of(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// In a child: no file may grow past `limit`; no core file either.
void limit_file_size(std::uint64_t limit) {
  struct rlimit size_limit{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
  struct rlimit no_core{0, 0};
  if (::setrlimit(RLIMIT_FSIZE, &size_limit) != 0 || ::setrlimit(RLIMIT_CORE, &no_core) != 0) {
    std::_Exit(120);
  }
}

void stop_here(int) { ::raise(SIGSTOP); }
}  // namespace
#endif

#ifndef _WIN32

std::uint64_t peak_memory_kib(const std::function<void()>& work) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    work();
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int wait_status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &wait_status, 0, &usage) != child) return 0;
  EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << "the child failed (its expectations are printed above)";
  return static_cast<std::uint64_t>(usage.ru_maxrss);
}

bool os_faults_available() { return true; }

RunResult run_program_with_file_limit(const std::vector<std::string>& args, std::uint64_t limit) {
  RunResult result;
  result.status = -1000;
  std::vector<std::string> words{KELVARIN_EXE};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = argv_of(words);
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return result;
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    // The program itself must turn the signal a write past the limit
    // raises into a failed write: it is left as it comes.
    limit_file_size(limit);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipe_ends[1]);
  if (child < 0) {
    ::close(pipe_ends[0]);
    return result;
  }
  char buffer[1 << 14];
  ssize_t got;
  while ((got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0) {
    result.out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipe_ends[0]);
  int wait_status = 0;
  if (::waitpid(child, &wait_status, 0) == child && WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  }
  return result;
}

bool kill_extraction_at_file_limit(const std::vector<std::string>& args, std::uint64_t limit,
                                   const std::function<void()>& while_stopped) {
  std::vector<std::string> words{"Kelvarin_Extract"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = argv_of(words);
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    limit_file_size(limit);
    // The write that would pass the limit raises SIGXFSZ: the child stops
    // right there, with the file half-written, until it is killed.
    ::signal(SIGXFSZ, stop_here);
    run_extract(static_cast<int>(words.size()), argv.data(), stdout);
    std::_Exit(121);  // finished: the limit was never reached
  }
  if (child < 0) return false;
  int wait_status = 0;
  ::waitpid(child, &wait_status, WUNTRACED);
  if (!WIFSTOPPED(wait_status)) return false;  // it ended by itself and is reaped
  try {
    while_stopped();
  } catch (...) {
    // A stopped child left behind would hold the test's output open forever.
    ::kill(child, SIGKILL);
    ::waitpid(child, &wait_status, 0);
    throw;
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &wait_status, 0);
  return WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGKILL;
}

#else

std::uint64_t peak_memory_kib(const std::function<void()>& work) {
  work();
  return 0;
}

bool os_faults_available() { return false; }

RunResult run_program_with_file_limit(const std::vector<std::string>&, std::uint64_t) {
  RunResult result;
  result.status = -1000;
  return result;
}

bool kill_extraction_at_file_limit(const std::vector<std::string>&, std::uint64_t,
                                   const std::function<void()>&) {
  return false;
}

#endif

}  // namespace kelvarin::testing
