// The parts of the palvero manual that are not options: exit codes, files,
// environment variables. --help prints the exit codes from here and the man
// page generator (src/cli/man) prints every table, so the two agree.
#pragma once

#include <string>
#include <vector>

namespace palvero::cli {

class Manual {
 public:
  struct Entry {
    std::string term;
    std::string text;
  };

  static const std::vector<Entry>& exitCodes();
  static const std::vector<Entry>& files();
  static const std::vector<Entry>& environment();
  // A few sentences on what the program does, for the man page.
  static std::string description();

  // "Exit codes:" followed by one line per code, for the end of --help.
  static std::string exitCodeFooter();
  // "Example:\n  <example>", for the end of a command's --help.
  static std::string exampleFooter(const std::string& example);
  // The example of a footer made by exampleFooter ("" when there is none).
  static std::string exampleOf(const std::string& footer);
};

}  // namespace palvero::cli
