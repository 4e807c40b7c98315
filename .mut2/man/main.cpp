// palvero-mangen OUTDIR: writes the man pages palvero.1 and palvero-service.1
// and the bash completions palvero and palvero-service into OUTDIR, from the
// same command-line descriptions the two programs parse with.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "ManPage.h"
#include "ServiceCommandLine.h"
#include "cli/CommandLine.h"
#include "cli/Manual.h"
#include "platform/Env.h"

namespace {

using palvero::man::ManPage;
using palvero::man::PageText;
using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rowsOf(const std::vector<palvero::cli::Manual::Entry>& entries) {
  Rows rows;
  for (const auto& entry : entries) rows.emplace_back(entry.term, entry.text);
  return rows;
}

bool write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) std::cerr << "palvero-mangen: cannot write " << path << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: palvero-mangen OUTDIR\n";
    return 2;
  }
  const std::string dir = argv[1];
  using palvero::cli::Manual;

  palvero::cli::Request request;
  auto client = palvero::cli::CommandLine::makeApp(request);
  PageText clientText;
  clientText.program = "palvero";
  clientText.summary = "back up this computer to the Palvero service";
  clientText.version = palvero::Env::applicationVersion();
  clientText.description = Manual::description();
  clientText.sections = {{"EXIT STATUS", rowsOf(Manual::exitCodes())},
                         {"ENVIRONMENT", rowsOf(Manual::environment())},
                         {"FILES", rowsOf(Manual::files())}};
  clientText.seeAlso = {"palvero-service(1)", "systemctl(1)", "systemd.unit(5)"};

  palvero::service::ServiceCommandLine serviceLine;
  auto service = serviceLine.makeApp();
  using SCL = palvero::service::ServiceCommandLine;
  PageText serviceText;
  serviceText.program = "palvero-service";
  serviceText.summary = "a substitute Palvero backup service for development, demos and tests";
  serviceText.version = PALVERO_SERVICE_CLIENT_VERSION;
  serviceText.description =
      "palvero-service answers every request of the Palvero client on /server.php of one address and keeps "
      "accounts, devices, settings, version histories and blocks under its data folder. It can be told to "
      "misbehave (fault rules) for tests. It is no production service: keep it on loopback.";
  serviceText.sections = {
      {"EXIT STATUS",
       {{std::to_string(SCL::kExitStopped), "stopped by SIGINT or SIGTERM, or --help/--version"},
        {std::to_string(SCL::kExitServeFailed), "the address cannot be bound or the data folder cannot be opened"},
        {std::to_string(SCL::kExitBadOption), "a bad option or option value"}}},
      {"FILES",
       {{"DIR/metadata.db", "accounts, devices, settings and version histories (SQLite)"},
        {"DIR/blocks/, DIR/versions/", "stored blocks and version texts, one file each"},
        {"DIR/requests.jsonl", "the request log"}}}};
  serviceText.seeAlso = {"palvero(1)"};

  bool ok = write(dir + "/palvero.1", ManPage::render(*client, clientText)) &&
            write(dir + "/palvero-service.1", ManPage::render(*service, serviceText)) &&
            write(dir + "/palvero.bash", ManPage::bashCompletion(*client, "palvero")) &&
            write(dir + "/palvero-service.bash", ManPage::bashCompletion(*service, "palvero-service"));
  return ok ? 0 : 1;
}
