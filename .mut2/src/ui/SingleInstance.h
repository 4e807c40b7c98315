// The reopen request between two launches of palvero-desktop by one user: a
// second launch asks the running one to bring its window forward and ends,
// so there is one window and one engine even without a tray.
//
// Thread contract: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace palvero::ui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstance(QObject* parent = nullptr);

  // The socket beside the instance lock in the support folder.
  static QString socketPath();
  // Asks a running desktop app to show its window; true when one answered.
  static bool askRunningToReopen(int timeoutMs = 1000);
  // Answers later launches; `onReopen` runs for each request.
  bool listen(std::function<void()> onReopen);

 private:
  QLocalServer* server_ = nullptr;
  std::function<void()> onReopen_;
};

}  // namespace palvero::ui
