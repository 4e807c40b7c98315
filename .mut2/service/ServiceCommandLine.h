// The command line of palvero-service, described once: main() parses with
// it, and the man page and shell completion are generated from it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HandlerRegistry.h"

namespace CLI {
class App;
}

namespace palvero::service {

struct ServiceCommandLine {
  ServiceOptions options;
  std::string listen = "127.0.0.1:0";
  std::vector<std::string> users;
  std::string passwordFile = "-";
  std::vector<std::string> faults;
  bool noFsync = false;

  // Exit codes of the program (also listed in its man page).
  static constexpr int kExitStopped = 0;
  static constexpr int kExitServeFailed = 1;
  static constexpr int kExitBadOption = 2;

  // The parser, its options bound to the fields above.
  std::unique_ptr<CLI::App> makeApp();
};

}  // namespace palvero::service
