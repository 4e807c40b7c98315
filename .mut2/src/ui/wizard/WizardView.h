// The first-run wizard: login, device, exclusions, optional restore presets
// and finish with the first scan, then the hand-over (finished()). The
// steps are the core's first run (FirstRun); the view shows their outcomes
// as pages and alerts, and a refused step leaves its page usable.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "app/FirstRun.h"
#include "base/Value.h"

class QStackedWidget;
class QTimer;

namespace palvero {
class CommunicationServer;
class ForgotPassword;
}

namespace palvero::ui {

class DevicePage;
class ExclusionsPage;
class FinishPage;
class LoginPage;
class RestorePresetsPage;

class WizardView : public QWidget {
  Q_OBJECT

 public:
  explicit WizardView(QWidget* parent = nullptr);
  ~WizardView() override;

  LoginPage* loginPage() const { return login_; }
  DevicePage* devicePage() const { return device_; }
  ExclusionsPage* exclusionsPage() const { return exclusions_; }
  RestorePresetsPage* restorePage() const { return restore_; }
  FinishPage* finishPage() const { return finish_; }
  QWidget* currentPage() const;

  void showLogin();
  void showDevices(const std::vector<Value>& devices);
  void showExclusions();
  void showRestore();
  void showFinish();
  // Opens our agreement document with the desktop's default application.
  void openAgreement();
  // The forgot-password button: one request at a time, its outcome as an alert.
  void forgotPasswordPressed();

  // The pages' buttons.
  void loginNextPressed();
  void deviceNextPressed();
  void exclusionsNextPressed();
  void restorePressed();
  void donePressed();

 signals:
  // The wizard is done: the main window takes over.
  void finished();

 private:
  // `button` enabled again and the alert shown: the user stays on the page.
  void refuse(QWidget* button, const QString& text);
  // A login or device step answered.
  void stepDone(QWidget* button, const FirstRun::Report& report);
  void leaveExclusions();

  QStackedWidget* pages_;
  LoginPage* login_;
  DevicePage* device_;
  ExclusionsPage* exclusions_;
  RestorePresetsPage* restore_;
  FinishPage* finish_;
  std::shared_ptr<CommunicationServer> server_;
  std::unique_ptr<FirstRun> firstRun_;
  std::unique_ptr<ForgotPassword> forgotPassword_;
  bool exclusionsChanged_ = false;
  // While the first scan runs: how many files it has queued.
  QTimer* scanProgress_;
  bool countAsked_ = false;
};

}  // namespace palvero::ui
