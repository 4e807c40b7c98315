// Runs one test case again as the unprivileged user "nobody", for cases that
// need a folder the process cannot read: root reads everything, so under
// root the case re-executes the test binary through setpriv with a filter
// for itself and reports the child's result.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace palvero::testing {

inline constexpr char kUnprivilegedChildVariable[] = "PALVERO_TEST_UNPRIVILEGED_CHILD";

// True in the re-executed child.
inline bool isUnprivilegedChild() { return std::getenv(kUnprivilegedChildVariable) != nullptr; }

// Whether the current process can be denied reading a folder at all.
inline bool needsPrivilegeDrop() { return geteuid() == 0; }

// Re-runs the current test as nobody/nogroup with `environment` added; returns
// the child's exit status (0 when it passed), or -1 when it could not start.
inline int rerunCurrentTestAsNobody(const std::vector<std::pair<std::string, std::string>>& environment) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  char exe[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length <= 0) return -1;
  exe[length] = '\0';
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    setenv(kUnprivilegedChildVariable, "1", 1);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    execlp("setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", exe, filter.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace palvero::testing
