// The man pages and bash completions built into build/man against the
// command lines they were made from: every command and option that --help
// shows is in the man page, every command has an example, the pages are
// clean troff, and the completion offers what the parser accepts.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "ManPage.h"
#include "ServiceCommandLine.h"
#include "cli/CommandLine.h"
#include "cli/Manual.h"
#include "platform/Env.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

std::string manPage(const char* name) { return testing::readFile(std::string(PALVERO_MAN_DIR) + "/" + name); }

// The output of a shell command (stdout and stderr together).
std::string shell(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  int rc = ::pclose(pipe);
  if (status) *status = rc;
  return output;
}

struct Parsed {
  int exitCode = -1;
  std::string out;
  std::string err;
};

Parsed palvero(std::vector<std::string> args) {
  args.insert(args.begin(), "palvero");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  Parsed parsed;
  cli::CommandLine::parse(static_cast<int>(argv.size()), argv.data(), out, err, parsed.exitCode);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

// The names listed under "Subcommands:" of a CLI11 help text.
std::vector<std::string> commandsIn(const std::string& help) {
  std::vector<std::string> names;
  size_t at = help.find("Subcommands:");
  if (at == std::string::npos) return names;
  std::istringstream lines(help.substr(at));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && !line.empty() && line[0] == ' ') {
    std::istringstream words(line);
    std::string name;
    words >> name;
    names.push_back(name);
  }
  return names;
}

// The long options listed in a help text.
std::set<std::string> optionsIn(const std::string& help) {
  std::set<std::string> options;
  std::regex option("--[a-z][a-z-]*");
  size_t at = help.find("Options:");
  std::string part = at == std::string::npos ? "" : help.substr(at);
  size_t sub = part.find("Subcommands:");
  if (sub != std::string::npos) part.resize(sub);
  for (std::sregex_iterator it(part.begin(), part.end(), option), end; it != end; ++it) options.insert(it->str());
  return options;
}

// A help text with each "Excludes:" list sorted (CLI11 prints them in no
// fixed order).
std::string normalized(const std::string& help) {
  std::istringstream lines(help);
  std::string line, out;
  while (std::getline(lines, line)) {
    size_t at = line.find("Excludes: ");
    if (at != std::string::npos) {
      std::istringstream words(line.substr(at + 10));
      std::set<std::string> sorted{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
      line.resize(at + 10);
      for (const auto& word : sorted) line += word + " ";
    }
    out += line + "\n";
  }
  return out;
}

// The man page's section of one command: from its .SS line to the next.
std::string sectionOf(const std::string& page, const std::string& command) {
  std::string heading = ".SS \"" + man::ManPage::escape(command) + "\"\n";
  size_t at = page.find(heading);
  if (at == std::string::npos) return "";
  size_t end = page.find("\n.SS ", at + heading.size());
  size_t nextSection = page.find("\n.SH ", at + heading.size());
  end = std::min(end, nextSection);
  return page.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

TEST(ManPageTest, EveryCommandAndOptionOfTheHelpIsInThePalveroPage) {
  std::string page = manPage("palvero.1");
  ASSERT_FALSE(page.empty()) << "build/man/palvero.1 was not generated";
  Parsed top = palvero({"--help"});
  ASSERT_EQ(top.exitCode, 0);
  std::vector<std::string> commands = commandsIn(top.out);
  ASSERT_GE(commands.size(), 14u) << top.out;
  for (const std::string& option : optionsIn(top.out)) {
    EXPECT_NE(page.find(man::ManPage::escape(option)), std::string::npos) << "global option " << option;
  }
  // Breadth first through the commands and their sub-commands.
  std::vector<std::vector<std::string>> queue;
  for (const auto& command : commands) queue.push_back({command});
  size_t checked = 0;
  while (!queue.empty()) {
    std::vector<std::string> path = queue.front();
    queue.erase(queue.begin());
    std::string name = "palvero";
    for (const auto& word : path) name += " " + word;
    SCOPED_TRACE(name);
    std::vector<std::string> args = path;
    args.push_back("--help");
    Parsed help = palvero(args);
    ASSERT_EQ(help.exitCode, 0) << help.err;
    std::string section = sectionOf(page, name);
    ASSERT_FALSE(section.empty()) << "no section for the command";
    for (const std::string& option : optionsIn(help.out)) {
      if (option == "--help") continue;
      EXPECT_NE(section.find(man::ManPage::escape(option)), std::string::npos) << "option " << option;
    }
    // The example of --help is the man page's.
    std::string example = cli::Manual::exampleOf(help.out);
    EXPECT_FALSE(example.empty()) << "no example in --help";
    EXPECT_NE(section.find(man::ManPage::escape(example)), std::string::npos) << example;
    // "palvero help COMMAND" prints the same help.
    std::vector<std::string> helpArgs = {"help"};
    helpArgs.insert(helpArgs.end(), path.begin(), path.end());
    Parsed viaHelp = palvero(helpArgs);
    EXPECT_EQ(viaHelp.exitCode, 0) << viaHelp.err;
    EXPECT_EQ(normalized(viaHelp.out), normalized(help.out));
    for (const auto& sub : commandsIn(help.out)) {
      auto longer = path;
      longer.push_back(sub);
      queue.push_back(longer);
    }
    ++checked;
  }
  EXPECT_EQ(checked, commands.size() + 3) << "settings get/set and logs send are walked too";
  for (const auto& code : cli::Manual::exitCodes()) {
    EXPECT_NE(page.find(".TP\n\\fB" + code.term + "\\fR\n"), std::string::npos) << "exit code " << code.term;
  }
  EXPECT_NE(page.find(".SH ENVIRONMENT"), std::string::npos);
  EXPECT_NE(page.find("PALVERO_SERVER_URL"), std::string::npos);
  EXPECT_NE(page.find(".SH FILES"), std::string::npos);
}

TEST(ManPageTest, EveryServiceOptionIsInThePalveroServicePage) {
  std::string page = manPage("palvero-service.1");
  ASSERT_FALSE(page.empty());
  service::ServiceCommandLine values;
  auto app = values.makeApp();
  std::string help = app->help();
  auto options = optionsIn(help);
  ASSERT_GE(options.size(), 10u) << help;
  for (const auto& option : options) {
    EXPECT_NE(page.find(man::ManPage::escape(option)), std::string::npos) << option;
  }
  EXPECT_NE(page.find(man::ManPage::escape("palvero-service --data /tmp/pv")), std::string::npos) << "the example";
}

TEST(ManPageTest, VersionHelpAndUnknownHelpTopics) {
  Parsed version = palvero({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "palvero " + Env::applicationVersion() + "\n");
  Parsed unknown = palvero({"help", "no-such-command"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("no-such-command"), std::string::npos) << unknown.err;
  Parsed whole = palvero({"help"});
  EXPECT_EQ(whole.exitCode, 0);
  EXPECT_EQ(whole.out, palvero({"--help"}).out);
  EXPECT_NE(whole.out.find("Exit codes:"), std::string::npos);
  Parsed bare = palvero({});
  EXPECT_EQ(bare.exitCode, 1);
  EXPECT_EQ(bare.err, whole.out) << "a bare command shows the commands, as a usage error";
}

TEST(ManPageTest, PagesAreCleanTroff) {
  if (shell("command -v groff").empty()) GTEST_SKIP() << "groff is not installed";
  for (const char* name : {"palvero.1", "palvero-service.1"}) {
    SCOPED_TRACE(name);
    int status = 0;
    std::string warnings =
        shell("groff -man -Tutf8 -ww -z '" + std::string(PALVERO_MAN_DIR) + "/" + name + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings, "");
    std::string text = shell("groff -man -Tutf8 -P -c '" + std::string(PALVERO_MAN_DIR) + "/" + name + "' | col -b");
    EXPECT_NE(text.find("--help"), std::string::npos) << "dashes stay plain hyphens: " << text.substr(0, 400);
  }
}

TEST(ManPageTest, EscapingGuardsTroffControls) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c : {Case{"a-b", "a\\-b"}, Case{"back\\slash", "back\\eslash"}, Case{".TH x", "\\&.TH x"},
                        Case{"x\n'quote", "x\n\\&'quote"}, Case{"mid.dot", "mid.dot"}}) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(man::ManPage::escape(c.in), c.out);
  }
}

// Runs the generated completion for a command line whose last word is being
// typed; returns the offered words.
std::set<std::string> complete(const char* script, const std::vector<std::string>& words) {
  std::string array;
  for (const auto& word : words) array += " '" + word + "'";
  std::string command = "bash -c 'source \"$0\"; COMP_WORDS=(\"${@}\"); COMP_CWORD=$(($# - 1)); _" +
                        std::string(script == std::string("palvero") ? "palvero" : "palvero_service") +
                        "; printf \"%s\\n\" \"${COMPREPLY[@]}\"' '" + std::string(PALVERO_MAN_DIR) + "/" + script +
                        ".bash'" + array;
  std::set<std::string> offered;
  std::istringstream lines(shell(command));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) offered.insert(line);
  }
  return offered;
}

TEST(ManPageTest, CompletionOffersCommandsSubCommandsAndOptions) {
  struct Case {
    const char* name;
    const char* program;
    std::vector<std::string> words;
    std::vector<std::string> offered;
    std::vector<std::string> notOffered;
  };
  const std::vector<Case> cases = {
      {"commands", "palvero", {"palvero", ""}, {"backup", "restore", "verify", "settings", "--server"}, {"get"}},
      {"prefix", "palvero", {"palvero", "ve"}, {"verify", "versions"}, {"backup"}},
      {"subcommands", "palvero", {"palvero", "settings", ""}, {"get", "set"}, {"backup"}},
      {"options after a global one", "palvero", {"palvero", "-q", "restore", "--"},
       {"--at", "--to", "--keep-existing", "--resume"}, {"--sample"}},
      {"verify", "palvero", {"palvero", "verify", "--"}, {"--sample", "--device"}, {"--at"}},
      {"service", "palvero-service", {"palvero-service", "--"}, {"--data", "--listen", "--version"}, {"--sample"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto offered = complete(c.program, c.words);
    for (const auto& word : c.offered) EXPECT_TRUE(offered.count(word)) << word;
    for (const auto& word : c.notOffered) EXPECT_FALSE(offered.count(word)) << word;
  }
}

}  // namespace
}  // namespace palvero
