// The palvero commands: each takes the parsed request, drives the
// application core and prints what happened. Logic beyond parsing and
// printing lives in src/app.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "app/SettingsCatalog.h"
#include "cli/CommandLine.h"

namespace palvero::cli {

class Commands {
 public:
  Commands(const Request& request, std::ostream& out, std::ostream& err);
  int run();

 private:
  int login();
  int scan();
  int backup();
  int status();
  int failed();
  int settingsGet();
  int settingsSet();
  int logsSend();
  int logout();
  int daemon();
  int ls();
  int versions();
  int restore();
  int verify();

  // Commands that change the queue hold the one-instance lock; false (with
  // the message printed unless `quiet`) when another Palvero runs.
  bool lockInstance(bool quiet = false);
  // A setting for the running daemon or desktop app (process `pid`) to
  // apply; waits until it has.
  int handSettingOver(const SettingsCatalog::Entry& entry, const Value& value, long pid, const char* holder);
  bool requireLogin();
  // Prints a warning when the service's address is plain http:// to another
  // computer.
  void warnIfUnencrypted();
  // One line from standard input without its line end; with `echoOff` and a
  // terminal, `prompt` is shown and the typed characters are not. Nothing
  // at the end of the input.
  static std::optional<std::string> readSecretLine(bool echoOff, const char* prompt, std::ostream& promptOut);

  const Request& request_;
  std::ostream& out_;
  std::ostream& err_;
  std::shared_ptr<void> lock_;
};

}  // namespace palvero::cli
