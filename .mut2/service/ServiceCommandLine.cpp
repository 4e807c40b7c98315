#include "ServiceCommandLine.h"

#include <CLI/CLI.hpp>

namespace palvero::service {

std::unique_ptr<CLI::App> ServiceCommandLine::makeApp() {
  auto app = std::make_unique<CLI::App>(
      "palvero-service: a substitute Palvero backup service for development, demos and tests", "palvero-service");
  app->set_version_flag("--version", [] { return std::string("palvero-service ") + PALVERO_SERVICE_CLIENT_VERSION; },
                        "Print the version and exit");
  app->footer(
      "Prints the address of /server.php on the first line of standard output once it accepts connections, and "
      "serves until SIGINT or SIGTERM.\n"
      "Example:\n"
      "  echo secret | palvero-service --data /tmp/pv --listen 127.0.0.1:0 --add-user ann");
  app->add_option("--data", options.dataDir, "Folder for accounts, versions and blocks (created if missing)")
      ->required()
      ->type_name("DIR");
  app->add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->capture_default_str()
      ->type_name("HOST:PORT");
  app->add_option("--add-user", users,
                  "Create (or set the password of) an account: NAME, whose password is read as one line from "
                  "--password-file, or NAME:PASSWORD (seen by anyone who lists processes); repeatable")
      ->type_name("NAME[:PASSWORD]");
  app->add_option("--password-file", passwordFile,
                  "Where the passwords of --add-user NAME come from, one line each: a file, or - for standard input")
      ->capture_default_str()
      ->type_name("FILE");
  app->add_option("--fault", faults, "Fault rule KIND:ACTION[:COUNT][:skip=K]; repeatable (see README.md)")
      ->type_name("RULE");
  app->add_option("--max-devices", options.maxDevices, "Device limit of accounts made by --add-user")
      ->check(CLI::PositiveNumber)
      ->capture_default_str()
      ->type_name("N");
  app->add_flag("--test-control", options.testControl, "Answer the /control request of the tests");
  app->add_option("--folder-page-size", options.folderPageSize, "Entries per page of a folder listing")
      ->check(CLI::Range(int64_t{1}, int64_t{100000}))
      ->capture_default_str()
      ->type_name("N");
  app->add_option("--client-version", options.clientVersion, "Client version offered by check_version (a.b.c.d)")
      ->capture_default_str()
      ->type_name("VERSION");
  app->add_option("--updater", options.updaterPath, "Updater archive sent by download_update")
      ->check(CLI::ExistingFile)
      ->type_name("FILE");
  app->add_option("--support-organisation", options.supportOrganisation, "Support contact: organisation")
      ->capture_default_str()
      ->type_name("TEXT");
  app->add_option("--support-email", options.supportEmail, "Support contact: e-mail")
      ->capture_default_str()
      ->type_name("TEXT");
  app->add_option("--support-phone", options.supportPhone, "Support contact: phone")
      ->capture_default_str()
      ->type_name("TEXT");
  app->add_flag("--no-fsync", noFsync, "Do not flush stored objects to disk (throwaway data only)");
  app->add_option("--request-log-bytes", options.requestLogBytes,
                  "Size of requests.jsonl before it is renamed to requests.jsonl.1")
      ->check(CLI::Range(int64_t{4096}, int64_t{1} << 40))
      ->capture_default_str()
      ->type_name("N");
  app->add_option("--workers", options.workerThreads, "Threads kept for serving connections")
      ->check(CLI::Range(size_t{1}, size_t{1024}))
      ->capture_default_str()
      ->type_name("N");
  app->add_option("--max-connections", options.maxConnections,
                  "Connections served at once (a thread each); more wait")
      ->check(CLI::Range(size_t{1}, size_t{4096}))
      ->capture_default_str()
      ->type_name("N");
  app->add_option("--io-timeout", options.ioTimeoutSeconds,
                  "Seconds a connection may stay silent (or not read) in the middle of a request")
      ->check(CLI::Range(1, 3600))
      ->capture_default_str()
      ->type_name("SECONDS");
  app->add_option("--request-timeout", options.requestSeconds, "Seconds a client may take to send one request body")
      ->check(CLI::Range(1, 3600))
      ->capture_default_str()
      ->type_name("SECONDS");
  app->add_option("--request-pause", options.requestPause,
                  "Seconds a client worker leaves between its paced requests (\"RequestPause\" of the login and "
                  "load_settings replies)")
      ->check(CLI::Range(0.0, 60.0))
      ->capture_default_str()
      ->type_name("SECONDS");
  return app;
}

}  // namespace palvero::service
