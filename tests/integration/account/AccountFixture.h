// Fixture of the account, browsing, settings, statistics and update
// integration tests: a home of its own, the real extension catalogue
// installed for the request layer, a fake clock for the client's own pauses (the
// network runs in real time), and a palvero-service started with the
// options a test needs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/FakeClock.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "protocol/ExtensionCatalogue.h"
#include "protocol/HttpClient.h"
#include "selection/CommonExtensions.h"
#include "selection/CommonExtensionsCatalogue.h"
#include "state/LocalSettings.h"
#include "support/AsyncWork.h"
#include "support/LogLines.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"

namespace palvero::testing {

class AccountFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CommonExtensions::resetForTesting();
    CommonExtensionsCatalogue::install();
    clock_ = std::make_shared<FakeClock>();
    Clock::setCurrent(clock_);
  }
  void TearDown() override {
    server_.reset();
    settleAsyncWork(2);
    ExtensionCatalogue::setCurrent(nullptr);
    CommonExtensions::resetForTesting();
    Clock::setCurrent(nullptr);
  }

  // Starts the service (once per test) and a client for it.
  ServiceProcess& start(ServiceProcess::Options options = {}) {
    service_ = std::make_unique<ServiceProcess>(std::move(options));
    server_ = newServer();
    return *service_;
  }
  std::shared_ptr<CommunicationServer> newServer() {
    return CommunicationServer::create(service_->url(), std::make_shared<HttpClient>());
  }
  // An account with one enrolled device whose identity the client uses.
  ServiceProcess::Credentials enrol(const std::string& user = "ann", const std::string& password = "secret") {
    auto device = service_->newDevice(user, password);
    ServiceProcess::useCredentials(device);
    return device;
  }

  // Uploads one revision through the client, as a backup would.
  void upload(const std::string& path, int64_t size, const std::string& modified) {
    bool offline = false;
    ASSERT_TRUE(
        server_->updateFileVersionWithFilename(path, size, modified, bytesFromString("version of " + path), offline));
  }
  // Marks a path deleted on the service (kept, not removed).
  void markDeleted(const std::string& path) {
    ASSERT_TRUE(server_->syncDeleteVerFile(*Functions::UrlEncode(path), 0, std::nullopt, false));
  }

  std::vector<std::string> kinds() {
    std::vector<std::string> out;
    for (const auto& entry : service_->requestLog()) out.push_back(entry.value("kind", std::string()));
    return out;
  }
  std::vector<Value> reportsOf(const std::string& kind) {
    std::vector<Value> out;
    for (const auto& r : service_->reports()) {
      if (r["kind"] == kind) out.push_back(r);
    }
    return out;
  }

  TempHome home_;
  std::shared_ptr<FakeClock> clock_;
  std::unique_ptr<ServiceProcess> service_;
  std::shared_ptr<CommunicationServer> server_;
};

}  // namespace palvero::testing
