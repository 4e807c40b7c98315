// What the main window controller needs from the application around it
// (AppDelegate, or a test double): the sleep flag and the ways the process
// ends or starts again.
//
// Thread contract: every member may be called from any thread.
#pragma once

namespace palvero {

class ApplicationHooks {
 public:
  virtual ~ApplicationHooks() = default;

  virtual bool isInSleep() const = 0;
  virtual void setIsInSleep(bool inSleep) = 0;
  // After the wrong-password reset: start the program again (the tray app)
  // or stop and tell the user to log in again (the daemon).
  virtual void relaunchAfterDelay() = 0;
};

}  // namespace palvero
