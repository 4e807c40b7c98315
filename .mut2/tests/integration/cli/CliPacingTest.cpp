// The pacing a service asks for ("RequestPause" in its login reply) reaches
// the palvero command, and one worker's paced requests keep it: measured on
// the service's own clock, from the answer of the worker's previous request
// to the arrival of the next.
#include <map>

#include "CliFixture.h"

namespace palvero::testing {
namespace {

class CliPacingTest : public CliFixture {};

TEST_F(CliPacingTest, AWorkersPacedRequestsKeepThePauseTheServiceAsksFor) {
  ServiceProcess::Options options;
  options.users = {std::string(kUser) + ":" + kPassword};
  options.extraArgs = {"--request-pause", "0.1"};
  ServiceProcess paced(options);
  ::setenv("PALVERO_SERVER_URL", paced.url().c_str(), 1);
  ASSERT_EQ(login({"--new-device", "desk"}).code, 0);
  EXPECT_NE(run({"settings", "get", "RequestPause"}).out.find("0.1"), std::string::npos);
  ASSERT_EQ(run({"settings", "set", "numberOfThreads", "1"}).code, 0);
  // Two blocks a file: "get_ver", "check_block", the upload, the re-check and
  // "upload_ver" for each.
  makeFiles("paced", 4, 300000);
  ASSERT_EQ(run({"scan"}).code, 0);
  paced.clearLog();
  CliResult backup = run({"backup"});
  ASSERT_EQ(backup.code, 0) << backup.out << backup.err;

  // A worker's requests share its session cookie.
  std::map<std::string, Value> previousOfSession;
  std::map<std::string, int> checked;
  for (const Value& entry : paced.requestLog()) {
    std::string cookie = entry["headers"].value("Cookie", "");
    std::string kind = entry.value("kind", "");
    if (cookie.empty()) continue;
    auto previous = previousOfSession.find(cookie);
    if (previous != previousOfSession.end() && (kind == "get_ver" || kind == "check_block" || kind == "upload_ver")) {
      double gap = static_cast<double>(entry["received"].get<int64_t>() - previous->second["answered"].get<int64_t>()) / 1e6;
      EXPECT_GE(gap, 0.1) << kind << " after " << previous->second.value("kind", "");
      ++checked[kind];
    }
    previousOfSession[cookie] = entry;
  }
  EXPECT_GE(checked["check_block"], 8);
  EXPECT_GE(checked["upload_ver"], 4);
}

}  // namespace
}  // namespace palvero::testing
