#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "cli/Commands.h"
#include "cli/ExitCode.h"

namespace palvero::cli {

std::optional<Request> CommandLine::parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                          int& exitCode) {
  Request request;
  CLI::App app{"Palvero: back up this computer to the Palvero service.", "palvero"};
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--server", request.server,
                 "Address of the service (default: $PALVERO_SERVER_URL or the built-in address)");
  app.add_flag("-q,--quiet", request.quiet, "Print only errors and the summary");

  auto* login = app.add_subcommand("login", "Log this computer in and choose its device");
  login->add_option("--user", request.user, "Account user name")->required();
  login->add_flag("--password-stdin", request.passwordStdin, "Read the password from standard input");
  auto* newDevice = login->add_option("--new-device", request.newDevice, "Register this computer as a new device");
  login->add_option("--device", request.device, "Take over an existing device (name or id)")->excludes(newDevice);
  login->add_flag("--autostart", request.autostart, "Start \"palvero daemon\" when the user logs in");

  auto* scan = app.add_subcommand("scan", "Scan the backup folder into the queue");
  scan->add_flag("--changed", request.changed, "Only files changed since the last scan");
  app.add_subcommand("backup", "Back up the queued files now, in the foreground");
  auto* status = app.add_subcommand("status", "Show the status checks and the queue");
  status->add_flag("--json", request.json, "Print JSON");
  auto* failed = app.add_subcommand("failed", "List the files that failed five times or more");
  failed->add_flag("--retry", request.retry, "Queue them again");

  auto* settings = app.add_subcommand("settings", "Read or change a setting");
  settings->require_subcommand(1);
  auto* get = settings->add_subcommand("get", "Print one setting, or all");
  get->add_option("key", request.key, "Setting name");
  auto* set = settings->add_subcommand("set", "Change a setting");
  set->add_option("key", request.key, "Setting name")->required();
  set->add_option("value", request.value, "New value")->required();

  auto* logs = app.add_subcommand("logs", "Send the log to support");
  logs->require_subcommand(1);
  auto* send = logs->add_subcommand("send", "Upload the current log file");
  send->add_option("--message", request.message, "A note for support");

  auto* ls = app.add_subcommand("ls", "List what the service holds: devices, then drives, folders and files");
  ls->add_option("path", request.remotePath, "Folder on the service (none: the account's devices)");
  ls->add_option("--device", request.device, "Another device's id (see \"palvero ls\")");
  ls->add_flag("--deleted", request.deleted, "Include files deleted on the device");
  ls->add_flag("--json", request.json, "Print JSON");
  auto* versions = app.add_subcommand("versions", "List the stored revisions of one file");
  versions->add_option("path", request.remotePath, "The file's path on the service")->required();
  versions->add_option("--device", request.device, "Another device's id");
  versions->add_flag("--json", request.json, "Print JSON");

  auto* restore = app.add_subcommand("restore", "Restore files from the service");
  auto* all = restore->add_flag("--all", request.all, "Everything the device backed up");
  auto* items = restore->add_option("items", request.items, "Files and folders to restore (paths on the service)");
  all->excludes(items);
  restore->add_option("--at", request.at, "The state at this local time, \"yyyy-MM-dd HH:mm[:ss]\" (default: latest)");
  restore->add_option("--to", request.to, "Restore into this folder (default: the original places)");
  restore->add_flag("--keep-existing", request.keepExisting,
                    "Never replace a local file; write the restored one beside it under a dated name");
  restore->add_option("--device", request.device, "Another device's id (see \"palvero ls\")");
  auto* revision = restore->add_option("--revision", request.revision, "This revision of the one file given");
  revision->excludes(all);
  auto* resume = restore->add_flag("--resume", request.resume, "Continue an interrupted restore");
  resume->excludes(all)->excludes(items)->excludes(revision);

  app.add_subcommand("logout", "Forget this computer's login, settings and queue");
  app.add_subcommand("daemon", "Run in the background: watch changes, run scheduled backups");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    exitCode = app.exit(e, out, err) == 0 ? kExitSuccess : kExitUsage;
    return std::nullopt;
  }
  for (auto* sub : app.get_subcommands()) {
    request.command = sub->get_name();
    for (auto* inner : sub->get_subcommands()) request.command += " " + inner->get_name();
  }
  exitCode = kExitSuccess;
  return request;
}

int CommandLine::run(const Request& request, std::ostream& out, std::ostream& err) {
  // The service address for everything below (the request layer reads it).
  if (!request.server.empty()) ::setenv("PALVERO_SERVER_URL", request.server.c_str(), 1);
  Commands commands(request, out, err);
  return commands.run();
}

int CommandLine::main(int argc, char** argv) {
  int exitCode = kExitSuccess;
  auto request = parse(argc, argv, std::cout, std::cerr, exitCode);
  if (!request) return exitCode;
  return run(*request, std::cout, std::cerr);
}

}  // namespace palvero::cli
