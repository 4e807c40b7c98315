// Tells the user, with desktop notifications, what needs them while the
// setting showAlerts is on: files that failed for good in a backup run,
// storage full, a scheduled backup that could not start, a restore that
// finished. It listens for the core's notifications (below) and hands each
// alert to a sender on a queue of its own, so a slow notification service
// never holds the thread that posted.
//
// Thread contract: construct and destroy on one thread; the observers run on
// the posting threads; the sender runs on the alerts' own queue, one alert
// at a time. The destructor stops observing and waits for alerts in flight.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/DispatchQueue.h"
#include "base/NotificationCenter.h"
#include "platform/DesktopNotifier.h"

namespace palvero {

class DesktopAlerts {
 public:
  // Posted by the main window controller (any sender):
  // {"paths": [...]} the files whose fifth try failed in the run that ended;
  static constexpr const char* kFilesFailedForGood = "FilesFailedForGood";
  // {"text": "Used ... / ... GB"} when the storage allowance is used up;
  static constexpr const char* kStorageFull = "StorageFull";
  // {"reason": "..."} when a daily backup was due and did not start.
  static constexpr const char* kScheduledBackupNotStarted = "ScheduledBackupNotStarted";
  // And "RestoreEnd" of the restore manager.

  // Files named in one notification at most; the rest are counted.
  static constexpr size_t kPathsShown = 5;

  using Sender = std::function<bool(const DesktopNotifier::Message&)>;

  // Alerts go to `sender`; without one, to the desktop's notification
  // service on the session bus when there is one (else they are dropped).
  explicit DesktopAlerts(Sender sender = nullptr);
  ~DesktopAlerts();
  DesktopAlerts(const DesktopAlerts&) = delete;
  DesktopAlerts& operator=(const DesktopAlerts&) = delete;

  // Blocks until every alert handed to the sender so far has been sent.
  void waitUntilIdle();

  // The texts, from a notification's user information.
  static DesktopNotifier::Message filesFailedForGood(const Value& userInfo);
  static DesktopNotifier::Message storageFull(const Value& userInfo);
  static DesktopNotifier::Message scheduledBackupNotStarted(const Value& userInfo);
  // Nothing (empty summary) for a restore that was interrupted.
  static DesktopNotifier::Message restoreFinished(const Value& userInfo);

  // The logo beside the installed program when there is one, else the
  // theme's icon name.
  static std::string iconName();

 private:
  void alert(DesktopNotifier::Message message);

  Sender sender_;
  std::vector<NotificationCenter::Token> tokens_;
  DispatchQueue queue_{"alerts", 1};
};

}  // namespace palvero
