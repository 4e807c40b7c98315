// The main run loop of the desktop application: the core's tasks and timers
// run on Qt's GUI thread, between the window's own events, so the core and
// the widgets share one main thread as they do in the daemon's StdRunLoop.
//
// Thread contract: construct on the GUI thread after QApplication; post and
// timer changes from any thread (they are forwarded with queued calls).
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>

#include "base/RunLoop.h"

namespace palvero::ui {

class QtRunLoop : public QObject, public RunLoop {
  Q_OBJECT

 public:
  QtRunLoop();

  bool isCurrentThread() const override;

 protected:
  void post(std::function<void()> task) override;
  void deadlineChanged() override;

 private:
  // Fires the due timers and arms the Qt timer for the next deadline. GUI thread.
  void rearm();

  QTimer timer_;
  std::atomic<bool> rearmQueued_{false};
};

}  // namespace palvero::ui
