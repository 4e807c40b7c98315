#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Manual.h"
#include "platform/Env.h"

namespace palvero::cli {
namespace {

CLI::App* command(CLI::App& parent, const std::string& name, const std::string& description,
                  const std::string& example) {
  CLI::App* sub = parent.add_subcommand(name, description);
  sub->footer(Manual::exampleFooter(example));
  return sub;
}

}  // namespace

std::unique_ptr<CLI::App> CommandLine::makeApp(Request& request) {
  auto owned = std::make_unique<CLI::App>("Palvero: back up this computer to the Palvero service.", "palvero");
  CLI::App& app = *owned;
  app.fallthrough();
  app.require_subcommand(1);
  app.set_version_flag("--version", [] { return "palvero " + Env::applicationVersion(); },
                       "Print the version and exit");
  app.footer(Manual::exitCodeFooter());
  app.add_option("--server", request.server,
                 "Address of the service (default: $PALVERO_SERVER_URL or the built-in address)")
      ->type_name("URL");
  app.add_flag("-q,--quiet", request.quiet, "Print only errors and the summary");

  auto* login = command(app, "login", "Log this computer in and choose its device",
                        "echo \"$PASSWORD\" | palvero login --user ann --password-stdin --new-device laptop");
  login->add_option("--user", request.user, "Account user name")->required()->type_name("NAME");
  login->add_flag("--password-stdin", request.passwordStdin, "Read the password from standard input");
  auto* newDevice = login->add_option("--new-device", request.newDevice, "Register this computer as a new device")
                        ->type_name("NAME");
  login->add_option("--device", request.device, "Take over an existing device (name or id)")
      ->excludes(newDevice)
      ->type_name("NAME_OR_ID");
  login->add_flag("--autostart", request.autostart, "Start \"palvero daemon\" when the user logs in");

  auto* scan = command(app, "scan", "Scan the backup folder into the queue", "palvero scan --changed");
  scan->add_flag("--changed", request.changed, "Only files changed since the last scan");
  command(app, "backup", "Back up the queued files now, in the foreground", "palvero scan && palvero backup");
  auto* status = command(app, "status", "Show the status checks and the queue", "palvero status --json");
  status->add_flag("--json", request.json, "Print JSON");
  auto* failed = command(app, "failed", "List the files that failed five times or more", "palvero failed --retry");
  failed->add_flag("--retry", request.retry, "Queue them again");

  auto* settings = command(app, "settings", "Read or change a setting", "palvero settings set showAlerts true");
  settings->require_subcommand(1);
  auto* get = command(*settings, "get", "Print one setting, or all", "palvero settings get numberOfThreads");
  get->add_option("key", request.key, "Setting name")->type_name("KEY");
  auto* set = command(*settings, "set", "Change a setting (a running daemon or desktop app applies it at once)",
                     "palvero settings set numberOfThreads 10");
  set->add_option("key", request.key, "Setting name")->required()->type_name("KEY");
  set->add_option("value", request.value, "New value (proxyPassword: read from standard input instead)")
      ->type_name("VALUE")
      ->each([&request](const std::string&) { request.valueGiven = true; });

  auto* logs = command(app, "logs", "Send the log to support", "palvero logs send --message \"backup hangs\"");
  logs->require_subcommand(1);
  auto* send = command(*logs, "send", "Upload the current log file", "palvero logs send --message \"backup hangs\"");
  send->add_option("--message", request.message, "A note for support")->type_name("TEXT");

  auto* ls = command(app, "ls", "List what the service holds: devices, then drives, folders and files",
                     "palvero ls /home/ann/Documents");
  ls->add_option("path", request.remotePath, "Folder on the service (none: the account's devices)")
      ->type_name("PATH");
  ls->add_option("--device", request.device, "Another device's id (see \"palvero ls\")")->type_name("ID");
  ls->add_flag("--deleted", request.deleted, "Include files deleted on the device");
  ls->add_flag("--json", request.json, "Print JSON");
  auto* versions = command(app, "versions", "List the stored revisions of one file",
                           "palvero versions /home/ann/Documents/report.odt");
  versions->add_option("path", request.remotePath, "The file's path on the service")->required()->type_name("PATH");
  versions->add_option("--device", request.device, "Another device's id")->type_name("ID");
  versions->add_flag("--json", request.json, "Print JSON");

  auto* restore = command(app, "restore", "Restore files from the service",
                          "palvero restore /home/ann/Documents --at \"2024-01-31 17:00\" --to /tmp/then");
  auto* all = restore->add_flag("--all", request.all, "Everything the device backed up");
  auto* items = restore->add_option("items", request.items, "Files and folders to restore (paths on the service)")
                    ->type_name("ITEM");
  all->excludes(items);
  restore->add_option("--at", request.at, "The state at this local time, \"yyyy-MM-dd HH:mm[:ss]\" (default: latest)")
      ->type_name("TIME");
  restore->add_option("--to", request.to, "Restore into this folder (default: the original places)")
      ->type_name("DIR");
  restore->add_flag("--keep-existing", request.keepExisting,
                    "Never replace a local file; write the restored one beside it under a dated name");
  restore->add_option("--device", request.device, "Another device's id (see \"palvero ls\")")->type_name("ID");
  auto* revision =
      restore->add_option("--revision", request.revision, "This revision of the one file given")->type_name("N");
  revision->excludes(all);
  auto* resume = restore->add_flag("--resume", request.resume, "Continue an interrupted restore");
  resume->excludes(all)->excludes(items)->excludes(revision);

  auto* verify = command(app, "verify",
                         "Check that the latest revision of every backed-up file can be restored: fetch each block and "
                         "compare its SHA-256 and length with the version text; nothing is written",
                         "palvero verify --sample 10");
  verify->add_option("--sample", request.samplePercent, "Check only this share of the files, chosen at random")
      ->check(CLI::Range(0.001, 100.0))
      ->type_name("PERCENT");
  verify->add_option("--device", request.device, "Another device's id (see \"palvero ls\")")->type_name("ID");

  command(app, "logout", "Forget this computer's login, settings and queue", "palvero logout");
  command(app, "daemon", "Run in the background: watch changes, run scheduled backups",
          "systemctl --user enable --now palvero.service");
  auto* help = command(app, "help", "Show the help of a command", "palvero help restore");
  help->add_option("command", request.topic, "The command (and sub-command)")->type_name("COMMAND");
  return owned;
}

std::optional<Request> CommandLine::parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                          int& exitCode) {
  Request request;
  auto app = makeApp(request);
  if (argc <= 1) {
    // A bare "palvero" is most often a first try: it shows what there is to run.
    err << app->help();
    exitCode = kExitUsage;
    return std::nullopt;
  }
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    exitCode = app->exit(e, out, err) == 0 ? kExitSuccess : kExitUsage;
    return std::nullopt;
  }
  for (auto* sub : app->get_subcommands()) {
    request.command = sub->get_name();
    for (auto* inner : sub->get_subcommands()) request.command += " " + inner->get_name();
  }
  exitCode = kExitSuccess;
  if (request.command != "help") return request;
  const CLI::App* topic = app.get();
  std::string path = "palvero";
  for (const std::string& name : request.topic) {
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : topic->get_subcommands({})) {
      if (sub->get_name() == name) next = sub;
    }
    if (!next) {
      err << "palvero: no command \"" << name << "\" in \"" << path << "\"; see \"palvero --help\"\n";
      exitCode = kExitUsage;
      return std::nullopt;
    }
    path += " " + name;
    topic = next;
  }
  if (topic == app.get()) {
    // The parsed app would print the help of its chosen command ("help").
    Request unused;
    out << makeApp(unused)->help();
  } else {
    out << topic->help(path.substr(0, path.rfind(' ')));
  }
  return std::nullopt;
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
