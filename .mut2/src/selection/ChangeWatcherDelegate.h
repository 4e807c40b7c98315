// What the change watcher needs the application to do while it rebuilds the
// backup queue. The application layer implements it; the watcher calls it
// from a background thread, and the implementation moves to the main thread
// where it must.
#pragma once

namespace palvero {

class ChangeWatcherDelegate {
 public:
  virtual ~ChangeWatcherDelegate() = default;

  virtual bool isBackupRunning() = 0;
  // Stops the running backup and returns when it has stopped.
  virtual void stopBackup() = 0;
  // Starts the backup again after stopBackup().
  virtual void restartBackup() = 0;
  // Marks the window as scanning (true) or not (false).
  virtual void setScanning(bool scanning) = 0;
  // Sends the exclusions to the server ("save_settings" of type
  // "exclusions"); false when the session could not be authorised.
  virtual bool saveExclusionsToServer() = 0;
};

}  // namespace palvero
