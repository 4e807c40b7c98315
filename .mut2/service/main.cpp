// palvero-service: parses the command line, opens the data folder, binds,
// prints the address of /server.php as the first line on stdout, and serves
// until SIGINT or SIGTERM.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

#include "Service.h"
#include "ServiceCommandLine.h"

using palvero::service::Service;
using palvero::service::ServiceCommandLine;
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

// The passwords of the accounts named without one, a line each, from
// `source` (a file, or "-" for standard input), so that they never show in
// the process list. False when a line is missing.
bool readPasswords(std::vector<std::string>& users, const std::string& source) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (source != "-") {
    file.open(source);
    if (!file) {
      std::cerr << "palvero-service: cannot read " << source << "\n";
      return false;
    }
    in = &file;
  }
  for (auto& user : users) {
    if (user.find(':') != std::string::npos) continue;
    std::string password;
    if (!std::getline(*in, password)) {
      std::cerr << "palvero-service: no password for " << user << " in "
                << (source == "-" ? std::string("standard input") : source) << "\n";
      return false;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    user += ":" + password;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ServiceCommandLine commandLine;
  auto app = commandLine.makeApp();
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app->exit(e) == 0 ? ServiceCommandLine::kExitStopped : ServiceCommandLine::kExitBadOption;
  }
  ServiceOptions& options = commandLine.options;
  const std::string& listen = commandLine.listen;
  std::vector<std::string>& users = commandLine.users;
  const std::string& passwordFile = commandLine.passwordFile;
  const std::vector<std::string>& faults = commandLine.faults;
  const bool noFsync = commandLine.noFsync;
  options.durable = !noFsync;
  // Whatever the service writes is for its own user only.
  ::umask(077);

  std::string host;
  int port = 0;
  if (!splitListen(listen, host, port)) {
    std::cerr << "palvero-service: --listen needs HOST:PORT, got \"" << listen << "\"\n";
    return ServiceCommandLine::kExitBadOption;
  }

  // Writes into a connection the peer closed must fail, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!readPasswords(users, passwordFile)) return ServiceCommandLine::kExitBadOption;

  try {
    Service service(options);
    for (const auto& user : users) {
      size_t colon = user.find(':');
      if (colon == std::string::npos || colon == 0) {
        std::cerr << "palvero-service: --add-user needs NAME:PASSWORD, got \"" << user << "\"\n";
        return ServiceCommandLine::kExitBadOption;
      }
      service.context().metadata.addOrUpdateAccount(user.substr(0, colon), user.substr(colon + 1), options.maxDevices);
    }
    for (const auto& rule : faults) {
      std::string error;
      if (!service.addFaultRule(rule, &error)) {
        std::cerr << "palvero-service: --fault: " << error << "\n";
        return ServiceCommandLine::kExitBadOption;
      }
    }
    int bound = service.bind(host, port);
    if (bound < 0) {
      std::cerr << "palvero-service: cannot listen on " << listen << "\n";
      return ServiceCommandLine::kExitServeFailed;
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
      return ServiceCommandLine::kExitServeFailed;
    }
  } catch (const std::exception& e) {
    std::cerr << "palvero-service: " << e.what() << "\n";
    return ServiceCommandLine::kExitServeFailed;
  }
  return 0;
}
