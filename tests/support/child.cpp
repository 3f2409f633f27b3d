// Work forked into a child process, which a file size limit can fail or
// stop half-way. POSIX only.
#include <gtest/gtest.h>

#include "support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kelvarin::testing {

#ifdef _WIN32

Child run_in_child(const std::function<int()>&, std::uint64_t, const std::function<void()>&) { return {}; }
int start_child(const std::function<int()>&) { return -1; }
int wait_child(int, int) { return -1; }

#else

namespace {
void stop_here(int) { ::raise(SIGSTOP); }
}  // namespace

Child run_in_child(const std::function<int()>& work, std::uint64_t file_limit,
                   const std::function<void()>& while_stopped) {
  Child child;
  TempDir scratch;
  const fs::path out = scratch / "out";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    if (file_limit > 0) {
      const struct rlimit size{file_limit, file_limit}, no_core{0, 0};
      if (::setrlimit(RLIMIT_FSIZE, &size) != 0 || ::setrlimit(RLIMIT_CORE, &no_core) != 0) std::_Exit(120);
    }
    // The write that would pass the limit raises SIGXFSZ: the child stops
    // right there, its file half-written, until it is killed.
    if (while_stopped) ::signal(SIGXFSZ, stop_here);
    const int status = work();
    std::fflush(nullptr);
    std::_Exit(status);
  }
  if (pid < 0) return child;
  int wait_status = 0;
  struct rusage usage {};
  ::wait4(pid, &wait_status, WUNTRACED, &usage);
  if (WIFSTOPPED(wait_status)) {
    while_stopped();  // looks with EXPECT_, which doesn't throw: the child is always killed
    ::kill(pid, SIGKILL);
    ::wait4(pid, &wait_status, 0, &usage);
  }
  child.ran = true;
  child.killed = WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGKILL;
  if (WIFEXITED(wait_status)) child.status = WEXITSTATUS(wait_status);
  child.peak_kib = static_cast<std::uint64_t>(usage.ru_maxrss);
  child.out = read_file(out);
  return child;
}

int start_child(const std::function<int()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) std::_Exit(work());
  return pid;
}

int wait_child(int child, int seconds) {
  if (child <= 0) return -1;
  int status = 0;
  bool hung = false;
  if (seconds > 0) {
    // Looked at every 10 ms until the time is up.
    for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; waited += 10) {
      if (waited >= seconds * 1000) {
        hung = true;
        ::kill(child, SIGKILL);
        break;
      }
      ::usleep(10'000);
    }
    if (!hung) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  if (::waitpid(child, &status, 0) != child) return -1;
  if (hung) return kHung;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace kelvarin::testing
