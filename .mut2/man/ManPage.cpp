#include "ManPage.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <set>

namespace palvero::man {
namespace {

const std::string kExampleHeading = "Example:\n  ";

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool isFlag(const CLI::Option* option) { return option->get_expected_max() == 0; }

// The options of `app` a reader gives: everything but the help flag.
std::vector<const CLI::Option*> optionsOf(const CLI::App& app) {
  return app.get_options([&](const CLI::Option* option) {
    return option != app.get_help_ptr() && !option->get_group().empty();
  });
}

std::vector<const CLI::App*> commandsOf(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

// "-q, --quiet", "--user", or a positional's metavar.
std::vector<std::string> namesOf(const CLI::Option* option) {
  std::vector<std::string> names;
  for (const auto& s : option->get_snames()) names.push_back("-" + s);
  for (const auto& l : option->get_lnames()) names.push_back("--" + l);
  return names;
}

std::string metavar(const CLI::Option* option) {
  std::string type = option->get_type_name();
  if (type.empty()) type = upper(option->get_name(true));
  return type;
}

// One option in a synopsis: "--user NAME", "[--json]", "[KEY]", "ITEM...".
std::string synopsisItem(const CLI::Option* option) {
  std::string item;
  if (option->get_positional() && namesOf(option).empty()) {
    item = "\\fI" + ManPage::escape(metavar(option)) + "\\fR";
  } else {
    item = "\\fB" + ManPage::escape(namesOf(option).back()) + "\\fR";
    if (!isFlag(option)) item += " \\fI" + ManPage::escape(metavar(option)) + "\\fR";
  }
  if (option->get_items_expected_max() > 1) item += "...";
  return option->get_required() ? item : "[" + item + "]";
}

std::string exampleOf(const std::string& footer) {
  size_t at = footer.find(kExampleHeading);
  if (at == std::string::npos) return "";
  std::string example = footer.substr(at + kExampleHeading.size());
  return example.substr(0, example.find('\n'));
}

// The footer's text before its example.
std::string footerNote(const std::string& footer) {
  size_t at = footer.find(kExampleHeading);
  std::string note = at == std::string::npos ? footer : footer.substr(0, at);
  while (!note.empty() && (note.back() == '\n' || note.back() == ' ')) note.pop_back();
  return note;
}

void renderOptions(std::string& out, const std::vector<const CLI::Option*>& options) {
  for (const CLI::Option* option : options) {
    out += ".TP\n";
    std::vector<std::string> names = namesOf(option);
    if (names.empty()) {
      out += "\\fI" + ManPage::escape(metavar(option)) + "\\fR";
    } else {
      std::string joined;
      for (const auto& name : names) joined += (joined.empty() ? "" : ", ") + ("\\fB" + ManPage::escape(name) + "\\fR");
      out += joined;
      if (!isFlag(option)) out += " \\fI" + ManPage::escape(metavar(option)) + "\\fR";
    }
    out += "\n" + ManPage::escape(option->get_description());
    if (!option->get_default_str().empty()) out += " (default: " + ManPage::escape(option->get_default_str()) + ")";
    out += "\n";
  }
}

void renderExample(std::string& out, const std::string& example) {
  if (example.empty()) return;
  out += ".PP\nExample:\n.RS\n.nf\n" + ManPage::escape(example) + "\n.fi\n.RE\n";
}

void renderCommand(std::string& out, const CLI::App& command, const std::string& prefix) {
  const std::string path = prefix + " " + command.get_name();
  out += ".SS \"" + ManPage::escape(path) + "\"\n";
  std::string synopsis = "\\fB" + ManPage::escape(path) + "\\fR";
  for (const CLI::Option* option : optionsOf(command)) synopsis += " " + synopsisItem(option);
  auto children = commandsOf(command);
  if (!children.empty()) synopsis += " \\fICOMMAND\\fR";
  out += synopsis + "\n.PP\n" + ManPage::escape(command.get_description()) + "\n";
  renderOptions(out, optionsOf(command));
  renderExample(out, exampleOf(command.get_footer()));
  for (const CLI::App* child : children) renderCommand(out, *child, path);
}

// Bash words: the command names and option names of one app.
std::string wordsOf(const CLI::App& app, bool withVersion) {
  std::string words;
  for (const CLI::Option* option : optionsOf(app)) {
    if (!withVersion && option == app.get_version_ptr()) continue;
    for (const auto& name : namesOf(option)) words += (words.empty() ? "" : " ") + name;
  }
  words += std::string(words.empty() ? "" : " ") + "--help";
  for (const CLI::App* child : commandsOf(app)) words += " " + child->get_name();
  return words;
}

void collectCases(const CLI::App& app, const std::string& path, std::string& walk, std::string& cases,
                  std::set<std::string>& dirOptions, std::set<std::string>& valueOptions) {
  cases += "    \"" + path + "\") words=\"" + wordsOf(app, path.empty()) + "\" ;;\n";
  for (const CLI::Option* option : optionsOf(app)) {
    if (isFlag(option) || option->get_positional()) continue;
    for (const auto& name : namesOf(option)) (metavar(option) == "DIR" ? dirOptions : valueOptions).insert(name);
  }
  for (const CLI::App* child : commandsOf(app)) {
    std::string childPath = path.empty() ? child->get_name() : path + " " + child->get_name();
    walk += "      \"" + path + ":" + child->get_name() + "\") command=\"" + childPath + "\" ;;\n";
    collectCases(*child, childPath, walk, cases, dirOptions, valueOptions);
  }
}

std::string joinAlternatives(const std::set<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : "|") + name;
  return text;
}

}  // namespace

std::string ManPage::escape(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::string ManPage::render(const CLI::App& app, const PageText& text) {
  const std::string program = text.program;
  std::string out;
  out += ".\\\" Generated from the program's command line; do not edit.\n";
  out += ".TH " + upper(program) + " 1 \"\" \"" + escape(program + " " + text.version) + "\" \"User Commands\"\n";
  out += ".SH NAME\n" + escape(program) + " \\- " + escape(text.summary) + "\n";
  auto commands = commandsOf(app);
  out += ".SH SYNOPSIS\n\\fB" + escape(program) + "\\fR";
  if (commands.empty()) {
    for (const CLI::Option* option : optionsOf(app)) out += " " + synopsisItem(option);
    out += "\n";
  } else {
    out += " [\\fIGLOBAL OPTIONS\\fR] \\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n";
  }
  out += ".SH DESCRIPTION\n" + escape(text.description) + "\n";
  std::string note = footerNote(app.get_footer());
  if (commands.empty() && !note.empty()) out += ".PP\n" + escape(note) + "\n";
  out += commands.empty() ? ".SH OPTIONS\n" : ".SH GLOBAL OPTIONS\n";
  renderOptions(out, optionsOf(app));
  out += ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\nPrint the help";
  out += commands.empty() ? " and exit\n" : "; after a command, that command's help\n";
  if (commands.empty()) {
    renderExample(out, exampleOf(app.get_footer()));
  } else {
    out += ".SH COMMANDS\n";
    for (const CLI::App* command : commands) renderCommand(out, *command, program);
  }
  for (const auto& [title, rows] : text.sections) {
    out += ".SH " + escape(title) + "\n";
    for (const auto& [term, body] : rows) out += ".TP\n\\fB" + escape(term) + "\\fR\n" + escape(body) + "\n";
  }
  if (!text.seeAlso.empty()) {
    out += ".SH SEE ALSO\n";
    for (size_t i = 0; i < text.seeAlso.size(); ++i) {
      const std::string& ref = text.seeAlso[i];
      size_t paren = ref.find('(');
      out += ".BR " + escape(ref.substr(0, paren)) + " " + ref.substr(paren) + (i + 1 < text.seeAlso.size() ? " ," : "") +
             "\n";
    }
  }
  return out;
}

std::string ManPage::bashCompletion(const CLI::App& app, const std::string& program) {
  std::string function = "_";
  for (char c : program) function += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  std::string walk, cases;
  std::set<std::string> dirOptions, valueOptions;
  collectCases(app, "", walk, cases, dirOptions, valueOptions);
  std::string out = "# bash completion for " + program + "; generated from its command line, do not edit.\n";
  out += function + "() {\n";
  out += "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command=\"\" words=\"\" i\n";
  out += "  for ((i = 1; i < COMP_CWORD; i++)); do\n    case \"$command:${COMP_WORDS[i]}\" in\n" + walk +
         "    esac\n  done\n";
  out += "  case \"$prev\" in\n";
  if (!dirOptions.empty()) {
    out += "    " + joinAlternatives(dirOptions) + ") COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n";
  }
  if (!valueOptions.empty()) {
    out += "    " + joinAlternatives(valueOptions) + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
  }
  out += "  esac\n  case \"$command\" in\n" + cases + "  esac\n";
  out += "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n}\n";
  out += "complete -F " + function + " " + program + "\n";
  return out;
}

}  // namespace palvero::man
