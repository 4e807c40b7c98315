// The palvero command: parses the command line (CLI11) into a Request and
// runs it through the application core. Global options (--server) go before
// the command and are accepted after it too; every command also reads
// PALVERO_SERVER_URL.
//
// makeApp() is the one description of the command line: parsing, --help,
// "palvero help COMMAND", the man page and the shell completion are all
// produced from it (src/cli/man), so none of them can drift from the others.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace palvero::cli {

struct Request {
  std::string command;  // "login", "scan", "backup", "status", "failed", "settings get",
                        // "settings set", "logs send", "logout", "daemon", "ls", "versions",
                        // "restore", "verify"
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
  bool valueGiven = false;
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
  // verify: the share of the files checked, 0 < percent <= 100.
  double samplePercent = 100;
  // help: the command whose help is asked for ("settings set").
  std::vector<std::string> topic;
};

class CommandLine {
 public:
  // The whole command line, its options bound to `request`'s fields; each
  // command carries an example in its footer.
  static std::unique_ptr<CLI::App> makeApp(Request& request);
  // Parses argv. On --help, --version, "help", a usage error or a bad value,
  // prints to `out` / `err` and returns nothing with `exitCode` set (0 for
  // help and version).
  static std::optional<Request> parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                      int& exitCode);
  // Runs a parsed request; returns the exit code.
  static int run(const Request& request, std::ostream& out, std::ostream& err);
  static int main(int argc, char** argv);
};

}  // namespace palvero::cli
