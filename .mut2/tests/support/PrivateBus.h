// A dbus-daemon of the test's own, its address put into an environment
// variable (DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS) for the
// object's life, so that code opening "the" bus opens this one. The variable
// is restored and the daemon stopped on destruction.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace palvero::testing {

class PrivateBus {
 public:
  PrivateBus(const char* daemon, const char* variable) : variable_(variable) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(daemon, daemon, "--session", "--nofork", "--nopidfile", "--print-address=1",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    FILE* in = ::fdopen(out[0], "r");
    char line[512] = {};
    if (in && std::fgets(line, sizeof line, in)) address_ = line;
    if (in) std::fclose(in);
    while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r')) address_.pop_back();
    const char* previous = std::getenv(variable_.c_str());
    if (previous) saved_ = previous;
    hadPrevious_ = previous != nullptr;
    ::setenv(variable_.c_str(), address_.c_str(), 1);
  }
  ~PrivateBus() {
    if (hadPrevious_) {
      ::setenv(variable_.c_str(), saved_.c_str(), 1);
    } else {
      ::unsetenv(variable_.c_str());
    }
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }

 private:
  std::string variable_;
  pid_t pid_ = -1;
  std::string address_;
  std::string saved_;
  bool hadPrevious_ = false;
};

}  // namespace palvero::testing
