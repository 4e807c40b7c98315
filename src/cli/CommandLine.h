// The palvero command: parses the command line (CLI11) into a Request and
// runs it through the application core. Global options (--server) go before
// the command and are accepted after it too; every command also reads
// PALVERO_SERVER_URL.
#pragma once

#include <iosfwd>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

namespace palvero::cli {

struct Request {
  std::string command;  // "login", "scan", "backup", "status", "failed", "settings get",
                        // "settings set", "logs send", "logout", "daemon", "ls", "versions",
                        // "restore"
  std::string server;
  bool quiet = false;
  bool json = false;
  bool retry = false;
  bool changed = false;
  std::string user;
  bool passwordStdin = false;
  std::string newDevice;
  std::string device;
  bool autostart = false;
  std::string key;
  std::string value;
  std::string message = "Logs sent from the command line";
  // ls, versions, restore
  std::string remotePath;
  bool deleted = false;
  bool all = false;
  std::vector<std::string> items;
  std::string at;  // "yyyy-MM-dd HH:mm", local time
  std::string to;
  bool keepExisting = false;
  std::optional<int64_t> revision;
  bool resume = false;
};

class CommandLine {
 public:
  // Parses argv. On --help, a usage error or a bad value, prints to `out` /
  // `err` and returns nothing with `exitCode` set (0 for --help).
  static std::optional<Request> parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                      int& exitCode);
  // Runs a parsed request; returns the exit code.
  static int run(const Request& request, std::ostream& out, std::ostream& err);
  static int main(int argc, char** argv);
};

}  // namespace palvero::cli
