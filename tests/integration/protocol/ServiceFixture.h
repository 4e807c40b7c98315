// Fixture of the request-layer integration tests: a home of its own, a
// palvero-service with one enrolled device whose identity is in the settings,
// a fake clock for the client's own waits (the network itself runs in real time)
// and a CommunicationServer over libcurl pointed at the service.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/FakeClock.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "protocol/HttpClient.h"
#include "support/LogLines.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero::testing {

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = service_.newDevice("ann", "secret");
    ServiceProcess::useCredentials(device_);
    clock_ = std::make_shared<FakeClock>();
    Clock::setCurrent(clock_);
    server_ = newServer();
    service_.clearLog();
  }
  void TearDown() override { Clock::setCurrent(nullptr); }

  std::shared_ptr<CommunicationServer> newServer() {
    return CommunicationServer::create(service_.url(), std::make_shared<HttpClient>());
  }

  static Bytes randomBytes(size_t size, uint64_t seed) {
    std::mt19937_64 generator(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(generator());
    return out;
  }

  static std::string encoded(const std::string& path) { return *Functions::UrlEncode(path); }

  // The fields of the logged requests of `kind`, oldest first.
  std::vector<Value> sent(const std::string& kind) { return service_.requests(kind); }

  // The kinds of every logged request, oldest first.
  std::vector<std::string> kinds() {
    std::vector<std::string> out;
    for (const auto& entry : service_.requestLog()) out.push_back(entry.value("kind", std::string()));
    return out;
  }

  std::vector<std::string> logLinesStartingWith(const std::string& prefix) const {
    return loggedTextsStartingWith(prefix);
  }

  TempHome home_;
  ServiceProcess service_;
  ServiceProcess::Credentials device_;
  std::shared_ptr<FakeClock> clock_;
  std::shared_ptr<CommunicationServer> server_;
};

}  // namespace palvero::testing
