// Starting other programs: a detached child (the updater, a shell), the path
// of the running executable, and the relaunch of this program after a delay.
//
// Thread contract: every member is safe from any thread. Nothing here waits
// for a child; children are reaped by a double fork.
#pragma once

#include <string>
#include <vector>

namespace palvero {

class Process {
 public:
  // Starts `path` with `arguments` (argv[1...]) detached from this process,
  // with stdin from /dev/null. False (and `*error` set) when it could not be
  // started.
  static bool launch(const std::string& path, const std::vector<std::string>& arguments,
                     std::string* error = nullptr);
  // Runs `path` with `arguments` and waits for it; its exit status, or -1
  // when it could not be run or was killed.
  static int run(const std::string& path, const std::vector<std::string>& arguments);
  // Starts this program again with `arguments` after `delaySeconds`, through
  // "/bin/sh -c 'sleep N; exec ...'" so that the new instance starts after
  // this one has ended.
  static bool relaunchAfterDelay(int delaySeconds, const std::vector<std::string>& arguments);
  // /proc/self/exe resolved; empty when unknown.
  static std::string executablePath();
  // The command line of a running process of this user (/proc/PID/cmdline);
  // empty when there is no such process or it cannot be read.
  static std::vector<std::string> arguments(long pid);
  // Asks the process to end (SIGTERM); false when it cannot be signalled.
  static bool requestTermination(long pid);
  // `text` quoted for /bin/sh: single quotes, a quote inside as '\''.
  static std::string shellQuoted(const std::string& text);
};

}  // namespace palvero
