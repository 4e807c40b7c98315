// Renders a CLI11 command line as a man page (troff, man macros) and as a
// bash completion script, so that both follow the parser the program runs.
//
// Each command becomes a sub-section with its synopsis, description, options
// and the example of its footer ("Example:\n  <example>"); the page's other
// sections (exit status, environment, files) are given as tables.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace palvero::man {

struct PageText {
  std::string program;  // "palvero"
  std::string summary;  // the NAME line's text after the dash
  std::string version;  // "2.1.0.0"
  std::string description;
  // Extra sections in order: title ("EXIT STATUS") and (term, text) rows.
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
  std::vector<std::string> seeAlso;  // "palvero-service(1)"
};

class ManPage {
 public:
  static std::string render(const CLI::App& app, const PageText& text);
  // A bash completion function for `program`: commands, sub-commands and
  // options by position; folders after options whose value is a DIR, files
  // after other options that take a value.
  static std::string bashCompletion(const CLI::App& app, const std::string& program);
  // Text safe inside a troff line: backslashes escaped, "-" as \-, and a
  // leading "." or "'" guarded.
  static std::string escape(const std::string& text);
};

}  // namespace palvero::man
