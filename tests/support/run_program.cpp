// Running the built executables from a test, on each OS the suite runs on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/test_support.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace kelvarin::testing {

#ifdef _WIN32
const int kUsageExitStatus = -1;
const bool kOnWindows = true;
#else
const int kUsageExitStatus = 255;
const bool kOnWindows = false;
#endif

namespace {

#ifdef _WIN32
std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = static_cast<int>(utf8.size());
  int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(), size);
  return text;
}

// One argument as the child's command-line parser gives it back: quotes
// around it, a quote inside escaped with a backslash, and backslashes that
// come before a quote doubled.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// The executable's path as CMake gave it may be a Unix one under Wine
// ("/work/..."): made absolute, it names the same file on Wine's drives.
std::wstring executable_path(const char* exe) {
  std::wstring given = wide(exe);
  DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  DWORD length = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return given;
  full.resize(length);
  return full;
}

RunResult run_executable(const char* exe_name, const std::vector<std::string>& args,
                         const fs::path* err_file) {
  RunResult result;
  result.status = -1000;
  const std::wstring exe = executable_path(exe_name);
  std::wstring command = quoted(exe);
  for (const std::string& arg : args) command += L" " + quoted(wide(arg));

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    const DWORD error = ::GetLastError();
    ADD_FAILURE() << "no pipe for the child's output: Windows error " << error;
    return result;
  }
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE err_handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err_file != nullptr) {
    err_handle = ::CreateFileW(err_file->wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = write_end;
  startup.hStdError = err_handle;
  PROCESS_INFORMATION process{};
  BOOL started = ::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
  const DWORD start_error = ::GetLastError();
  // Only the child holds the pipe's write end now, so reading ends when it does.
  ::CloseHandle(write_end);
  if (err_file != nullptr && err_handle != INVALID_HANDLE_VALUE) ::CloseHandle(err_handle);
  if (!started) {
    ADD_FAILURE() << "can't start " << exe_name << ": Windows error " << start_error;
    ::CloseHandle(read_end);
    return result;
  }
  char buffer[1 << 16];
  DWORD got = 0;
  while (::ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.out.append(buffer, got);
  }
  ::CloseHandle(read_end);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (::GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return result;
}
#else
RunResult run_executable(const char* exe, const std::vector<std::string>& args,
                         const fs::path* err_file) {
  std::string command = shell_quoted(exe);
  for (const std::string& arg : args) command += " " + shell_quoted(arg);
  if (err_file != nullptr) command += " 2>" + shell_quoted(err_file->string());
  return run_shell(command);
}
#endif

}  // namespace

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
  result.status = -1000;
#ifndef _WIN32
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  int wait_status = ::pclose(pipe);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1000;
#else
  (void)command;
#endif
  return result;
}

const char* program_under_test() {
  const char* other = std::getenv("KELVARIN_EXTRACT_UNDER_TEST");
  return other != nullptr && other[0] != '\0' ? other : KELVARIN_EXE;
}

RunResult run_program(const std::vector<std::string>& args) {
  return run_executable(program_under_test(), args, nullptr);
}

RunResult run_brq(const std::vector<std::string>& args) {
  TempDir scratch;
  const fs::path err = scratch / "stderr";
  RunResult result = run_executable(BRQ_EXE, args, &err);
  result.err = read_file(err);
  return result;
}

}  // namespace kelvarin::testing
