// The ground of every desktop-view test: a home of its own, a palvero-service
// on loopback that the client is pointed at, the Qt run loop as the core's
// main loop, and waits that run Qt's events and the core's background queue
// until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ApplicationHooks.h"
#include "app/MainViewController.h"
#include "support/ServiceProcess.h"
#include "support/TempHome.h"
#include "ui/DesktopApp.h"

class QWidget;

namespace palvero::testing {

// A computer that never sleeps and an application that never relaunches.
class AwakeHooks : public ApplicationHooks {
 public:
  bool isInSleep() const override { return false; }
  void setIsInSleep(bool) override {}
  void relaunchAfterDelay() override {}
};

// A controller on the real service link and engine for `view` (may be
// null), initialised, with no timers or requests of its own at start.
std::unique_ptr<MainViewController> startQuietController(MainView* view, ApplicationHooks* hooks);

// A desktop application that watches nothing and runs no timers or requests
// of its own at start; one per user only when `singleInstance`.
ui::DesktopApp::Options quietDesktopOptions(bool singleInstance = false);

class UiFixture : public ::testing::Test {
 public:
  // Runs events until `done` (at most `ms`); false when it never held.
  static bool waitFor(const std::function<bool()>& done, int ms = 20000);

 protected:
  void SetUp() override;
  void TearDown() override;

  // An account with this computer enrolled as a device; the client logged
  // in and its folder scanned once.
  ServiceProcess::Credentials logIn(const std::string& user = "ann", const std::string& password = "secret");

  // The child widget of `root` with this object name, of type T.
  template <class T>
  static T* find(QWidget* root, const QString& name);

  std::unique_ptr<TempHome> home_;
  std::unique_ptr<ServiceProcess> service_;

 private:
  std::optional<std::string> savedServerURL_;
};

// Resets every process-wide object of the core (a test starts afresh).
void resetCoreSingletons();

}  // namespace palvero::testing

#include <QWidget>

template <class T>
T* palvero::testing::UiFixture::find(QWidget* root, const QString& name) {
  T* found = root->findChild<T*>(name);
  EXPECT_NE(found, nullptr) << "no " << name.toStdString();
  return found;
}
