// palvero-service: parses the command line, opens the data folder, binds,
// prints the address of /server.php as the first line on stdout, and serves
// until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "Service.h"

using palvero::service::Service;
using palvero::service::ServiceOptions;

namespace {

// Set once serve() has returned; read by the signal thread.
std::atomic<bool> served{false};

bool splitListen(const std::string& listen, std::string& host, int& port) {
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = listen.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  try {
    size_t used = 0;
    port = std::stoi(listen.substr(colon + 1), &used);
    return used == listen.size() - colon - 1 && port >= 0 && port <= 65535;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"palvero-service: a substitute Palvero backup service for development, demos and tests"};
  ServiceOptions options;
  std::string listen = "127.0.0.1:0";
  std::vector<std::string> users;
  std::vector<std::string> faults;
  bool noFsync = false;
  app.add_option("--data", options.dataDir, "Folder for accounts, versions and blocks (created if missing)")
      ->required();
  app.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")->capture_default_str();
  app.add_option("--add-user", users, "Create (or set the password of) an account, NAME:PASSWORD; repeatable");
  app.add_option("--fault", faults, "Fault rule KIND:ACTION[:COUNT][:skip=K]; repeatable (see README.md)");
  app.add_option("--max-devices", options.maxDevices, "Device limit of accounts made by --add-user")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--test-control", options.testControl, "Answer the /control request of the tests");
  app.add_option("--folder-page-size", options.folderPageSize, "Entries per page of a folder listing")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--client-version", options.clientVersion, "Client version offered by check_version (a.b.c.d)")
      ->capture_default_str();
  app.add_option("--updater", options.updaterPath, "Updater archive sent by download_update")->check(CLI::ExistingFile);
  app.add_option("--support-organisation", options.supportOrganisation, "Support contact: organisation")
      ->capture_default_str();
  app.add_option("--support-email", options.supportEmail, "Support contact: e-mail")->capture_default_str();
  app.add_option("--support-phone", options.supportPhone, "Support contact: phone")->capture_default_str();
  app.add_flag("--no-fsync", noFsync, "Do not flush stored objects to disk (throwaway data only)");
  CLI11_PARSE(app, argc, argv);
  options.durable = !noFsync;

  std::string host;
  int port = 0;
  if (!splitListen(listen, host, port)) {
    std::cerr << "palvero-service: --listen needs HOST:PORT, got \"" << listen << "\"\n";
    return 2;
  }

  // Writes into a connection the peer closed must fail, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    Service service(options);
    for (const auto& user : users) {
      size_t colon = user.find(':');
      if (colon == std::string::npos || colon == 0) {
        std::cerr << "palvero-service: --add-user needs NAME:PASSWORD, got \"" << user << "\"\n";
        return 2;
      }
      service.context().metadata.addOrUpdateAccount(user.substr(0, colon), user.substr(colon + 1), options.maxDevices);
    }
    for (const auto& rule : faults) {
      std::string error;
      if (!service.addFaultRule(rule, &error)) {
        std::cerr << "palvero-service: --fault: " << error << "\n";
        return 2;
      }
    }
    int bound = service.bind(host, port);
    if (bound < 0) {
      std::cerr << "palvero-service: cannot listen on " << listen << "\n";
      return 1;
    }
    std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::cout << "http://" << shownHost << ":" << bound << "/server.php" << std::endl;

    std::thread waiter([&service, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      service.stop();
      // Idle keep-alive connections hold the server's threads for up to the
      // keep-alive timeout. Everything stored is already on disk (objects are
      // renamed into place, SQLite commits), so after a short grace period
      // for requests in flight the process may simply end.
      for (int i = 0; i < 40 && !served.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::cout.flush();
      std::_Exit(0);
    });
    waiter.detach();
    bool ok = service.serve();
    served.store(true);
    if (!ok) {
      std::cerr << "palvero-service: server stopped with an error\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "palvero-service: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
