// The first run without a window: what the first-run wizard does between
// "not logged in" and the hand-over to the main window, one step at a time,
// for every front end (the palvero command now, the desktop wizard later).
//
//   storeFirstRunDefaults()        at launch while not logged in
//   login(user, password)          → kExclusions, kChooseDevice or a refusal
//   addNewDevice(name) or
//   replaceDevice(nameOrId)        after kChooseDevice → kExclusions or a refusal
//   renameThisDevice(name)         optional, after a login that enrolled a
//                                  new device by itself (named after the host)
//   sendExclusions(),
//   setBackupHiddenFiles(on),
//   leaveExclusions()              the exclusions page
//   chooseRestore(presets, items)  optional: the restore runs first, at the
//                                  hand-over, and there is no first scan
//   finish()                       the first scan; then the front end hands over
//
// Once enrolled, the settings and exclusions are loaded from the service
// ("clientfull", "backup", then the exclusions) before kExclusions is
// reported, so the exclusions page shows what the service keeps; "maxSize"
// is stored as 0 first ("User registred" is logged).
//
// Outcomes are values (Report) handed to a completion on the main run loop;
// nothing here shows anything, so a window and a terminal drive it alike.
//
// Thread contract: construct, call and destroy on the main loop's thread;
// completions run there. finish() blocks for the scan (a window calls it off
// the main thread). A completion still pending when the instance is
// destroyed is dropped.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/FirstScan.h"
#include "base/NotificationCenter.h"
#include "base/Timer.h"
#include "base/Value.h"

namespace palvero {

class CommunicationServer;

class FirstRun {
 public:
  enum class Outcome {
    kExclusions,     // logged in and enrolled: the exclusions page
    kChooseDevice,   // the account has devices: Report::devices, then a device step
    kWrongPassword,  // "wrongpas", or an empty user name or password
    kRefused,        // any other refusal of the login
    kDeviceRefused,  // the service refused the device (Report::message: its text)
    kNoSuchDevice,   // replaceDevice() named no device of the account
    kBusy,           // a step is still under way
  };

  struct Report {
    Outcome outcome = Outcome::kRefused;
    std::string message;
    std::vector<Value> devices;  // the account's device records (kChooseDevice)
  };
  using Completion = std::function<void(const Report&)>;

  // The settings refresh after enrolment gives up waiting this long.
  static constexpr std::chrono::seconds kSettingsTimeout{90};

  // Launch while not logged in: "BackupTimingType" 0 (manual), the
  // catalogue's "defaultExclusions" ".DS_Store;", "complexFiles"
  // ".APP;.IPA;.DMG;.LPDF;" with those four flags set; logs "Wizard started".
  static void storeFirstRunDefaults();

  // Over `server` (a new request object when null): the notifications of
  // that instance drive the steps.
  explicit FirstRun(std::shared_ptr<CommunicationServer> server = nullptr);
  ~FirstRun();
  FirstRun(const FirstRun&) = delete;
  FirstRun& operator=(const FirstRun&) = delete;

  // --- Login and device -----------------------------------------------------

  void login(const std::string& user, const std::string& password, Completion done);
  void addNewDevice(const std::string& name, Completion done);
  void replaceDevice(const std::string& nameOrId, Completion done);
  void renameThisDevice(const std::string& name, Completion done);
  // The devices the login listed (kChooseDevice).
  const std::vector<Value>& devices() const { return devices_; }
  // True when the login enrolled this computer without a device step: the
  // account allows one device, or had none (then a new one was registered,
  // named after the host: newDeviceRegistered()).
  bool enrolledByLogin() const { return enrolledByLogin_; }
  bool newDeviceRegistered() const { return newDeviceRegistered_; }

  // --- Exclusions page ------------------------------------------------------

  // The exclusion editor closed: the exclusions go to the service
  // ("save_settings" "exclusions") after a renewal, or "Save exclusions to
  // server - authorise fail" is logged. `done` gets whether they were sent.
  void sendExclusions(std::function<void(bool)> done);
  void setBackupHiddenFiles(bool on);
  // Next: the catalogue is saved.
  void leaveExclusions();

  // --- Restore first, or the first scan --------------------------------------

  void chooseRestore(const Value& presets, const Value& filesAndFolders);
  // The first scan of the backup folder ("lastFullBackup" = now). Blocks.
  static FirstScan::Result finish();

 private:
  enum class Phase { kIdle, kLoggingIn, kRegistering, kRenaming, kLoadingSettings };

  void observe(const char* name, std::function<void(const Notification&)> handler);
  bool begin(Phase phase, Completion& done);
  void complete(Report report);
  void loginRefused();
  void registerRecord(const Value& record, Phase phase);
  void enrolled();
  void settingsLoaded();
  static void log(const std::string& text, int level);

  std::shared_ptr<CommunicationServer> server_;
  std::vector<NotificationCenter::Token> observers_;
  // All below: main loop thread only.
  Phase phase_ = Phase::kIdle;
  Completion pending_;
  std::string password_;
  std::vector<Value> devices_;
  std::vector<std::string> refusal_;  // the names of one refused login's completion
  bool enrolledByLogin_ = false;
  bool newDeviceRegistered_ = false;
  int loadsLeft_ = 0;
  Timer::Handle settingsTimer_;
  // Expires with the instance: tasks queued on the main loop check it.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace palvero
