// SIGTERM and SIGINT (a session logout, a service manager, Ctrl-C) end the
// desktop app the way Quit does after its question: the event loop returns
// and the shutdown sequence writes what is pending. The handler only writes
// a byte to a pipe; the GUI thread reads it.
//
// Thread contract: construct once, on the GUI thread, before other threads
// start; it stays for the process.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace palvero::ui {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace palvero::ui
