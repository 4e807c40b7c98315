#include "UiFixture.h"

#include <QTest>
#include <cstdlib>

#include "app/CommunicationServerLink.h"
#include "app/ThreadWorker.h"
#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "engine/DeltaHandler.h"
#include "selection/BackupFilter.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/FilesToRestore.h"
#include "state/LocalSettings.h"
#include "ui/QtRunLoop.h"

namespace palvero::testing {

void resetCoreSingletons() {
  ThreadWorker::resetForTesting();
  BackupFilter::resetForTesting();
  FileScanner::resetForTesting();
  CommonExtensions::resetForTesting();
  FilesToRestore::resetForTesting();
  TempHome::resetSingletons();
}

std::unique_ptr<MainViewController> startQuietController(MainView* view, ApplicationHooks* hooks) {
  MainViewController::Options options;
  options.periodicTimers = false;
  options.requestSupportInfo = false;
  options.checkStatusAtStart = false;
  auto controller = std::make_unique<MainViewController>(
      std::make_shared<CommunicationServerLink>(), [] { return std::make_shared<DeltaHandler>(); }, view, hooks,
      options);
  controller->initialize();
  return controller;
}

ui::DesktopApp::Options quietDesktopOptions(bool singleInstance) {
  ui::DesktopApp::Options options;
  options.singleInstance = singleInstance;
  options.core.watchChanges = false;
  options.core.watchSleep = false;
  options.core.controllerOptions.periodicTimers = false;
  options.core.controllerOptions.requestSupportInfo = false;
  options.core.controllerOptions.checkStatusAtStart = false;
  return options;
}

void UiFixture::SetUp() {
  if (!dynamic_cast<ui::QtRunLoop*>(&RunLoop::main())) RunLoop::setMain(std::make_shared<ui::QtRunLoop>());
  home_ = std::make_unique<TempHome>();
  resetCoreSingletons();
  ServiceProcess::Options options;
  service_ = std::make_unique<ServiceProcess>(options);
  if (const char* url = std::getenv("PALVERO_SERVER_URL")) savedServerURL_ = url;
  setenv("PALVERO_SERVER_URL", service_->url().c_str(), 1);
}

void UiFixture::TearDown() {
  DispatchQueue::global().waitUntilIdle();
  QTest::qWait(0);
  service_.reset();
  resetCoreSingletons();
  home_.reset();
  if (savedServerURL_) {
    setenv("PALVERO_SERVER_URL", savedServerURL_->c_str(), 1);
  } else {
    unsetenv("PALVERO_SERVER_URL");
  }
}

ServiceProcess::Credentials UiFixture::logIn(const std::string& user, const std::string& password) {
  auto credentials = service_->newDevice(user, password);
  ServiceProcess::useCredentials(credentials);
  auto& settings = LocalSettings::sharedManager();
  settings.setIsInitialized(true);
  settings.save();
  // As after the wizard's first scan: no scan is due at the next start.
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setLastFullBackup(Date::now().toValue());
  extensions.saveExtensions();
  return credentials;
}

bool UiFixture::waitFor(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }

}  // namespace palvero::testing
