#include "platform/Process.h"

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>

extern char** environ;

namespace palvero {
namespace {

std::vector<char*> argvOf(const std::string& path, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Starts the child with stdin from /dev/null; its pid, or -1 with errno's text in `error`.
pid_t spawn(const std::string& path, const std::vector<std::string>& arguments, std::string* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  auto argv = argvOf(path, arguments);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = std::strerror(rc);
    return -1;
  }
  return pid;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool Process::launch(const std::string& path, const std::vector<std::string>& arguments, std::string* error) {
  // The shell's "&" detaches the program from us: the intermediate shell ends
  // at once and the program is adopted by init, so no zombie is left here.
  std::string command = "exec " + shellQuoted(path);
  for (const auto& argument : arguments) command += " " + shellQuoted(argument);
  pid_t pid = spawn("/bin/sh", {"-c", "(" + command + ") </dev/null >/dev/null 2>&1 &"}, error);
  if (pid < 0) return false;
  if (waitFor(pid) != 0) {
    if (error) *error = "the shell could not start " + path;
    return false;
  }
  return true;
}

int Process::run(const std::string& path, const std::vector<std::string>& arguments) {
  pid_t pid = spawn(path, arguments, nullptr);
  return pid < 0 ? -1 : waitFor(pid);
}

bool Process::relaunchAfterDelay(int delaySeconds, const std::vector<std::string>& arguments) {
  std::string self = executablePath();
  if (self.empty()) return false;
  std::string command = "sleep " + std::to_string(delaySeconds) + "; exec " + shellQuoted(self);
  for (const auto& argument : arguments) command += " " + shellQuoted(argument);
  return launch("/bin/sh", {"-c", command});
}

std::string Process::executablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

std::vector<std::string> Process::arguments(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> out;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    out.push_back(raw.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool Process::requestTermination(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0; }

std::string Process::shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace palvero
