// The settings page without its widgets: what each control shows
// (setSettingsValues, also after "LoadSettingsOK") and what it writes the
// moment the user changes it. The timing, the daily time and the worker
// count go through MainViewController (changeTiming,
// backupSetOnlyOnTimeCheckboxClicked, dailyBackupDateChanged,
// changeNumberOfThreads), which also tells the service; the file types, the
// size limit and the folders go through the exclusions editor.
//
// Thread contract: the stores are thread-safe; meant for the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Date.h"

namespace palvero {

// What the administrator's "AccessRights" leave the user.
struct AccessLocks {
  bool timingEnabled = true;      // the timing pop-up, the set-time box, the daily time
  bool exclusionsEnabled = true;  // the exclusions editor and the switches beside it
  bool advancedEnabled = true;    // the advanced-settings button
  bool advancedVisible = true;    // the advanced-settings view
  bool locksShown = false;        // the lock images of the three areas
  bool noticeShown = false;       // the administrator's notice
};

class SettingsControls {
 public:
  struct Values {
    int timingEntry = 0;  // 0 manual, 1 continuous, 2 daily
    bool onlyOnSetTime = false;
    std::optional<Date> dailyTime;
    int threadPosition = 1;  // 1 ... 5
    bool showAlerts = false;
    int32_t proxyType = 0;
    bool proxyFieldsEnabled = false;
    std::string proxyServer;
    std::string proxyPort;
    std::string proxyUsername;
    std::string proxyPassword;
    int32_t bandwidth = 100;
    std::string bandwidthText;
    bool externalDrives = false;
    bool emptyFiles = false;
    bool emptyExtension = false;
    AccessLocks locks;
  };

  // Every control's value from the settings store and the catalogue.
  static Values setSettingsValues();

  // The timing pop-up's entry for a timing type (3, daily, is entry 2; a
  // type the pop-up does not have shows as manual).
  static int timingEntryFor(int32_t timingType);

  // 0 enables everything and hides the locks; 1 and 2 lock; any other value
  // changes nothing (nothing returned).
  static std::optional<AccessLocks> locksFor(int32_t accessRights);

  // Proxy types 0 (none) and 1 (the system's) have no server or port of
  // their own.
  static bool proxyFieldsEnabled(int32_t proxyType);
  // Stores the type; returns whether the server and port fields are enabled.
  static bool changeProxyType(int32_t proxyType);
  static void changeProxyServer(const std::string& text);
  // The port a text stands for: leading blanks, an optional "+", digits,
  // 1 to 65535; nothing otherwise.
  static std::optional<std::string> proxyPortReading(const std::string& text);
  // Stores the port; false (nothing stored) when the text is not a port:
  // the view clears the field.
  static bool changeProxyPort(const std::string& text);
  static void changeProxyUsername(const std::string& text);
  static void changeProxyPassword(const std::string& text);
  static void changeShowAlerts(bool on);

  // "%li %" with the value, or "UnlimitedSpeed" at 100.
  static std::string bandwidthText(int32_t percent);
  // Stores "BandwidthLimit" (1 ... 100); returns the text to show.
  static std::string changeBandwidth(int32_t percent);

  // The catalogue's switches, saved at once; true when saved. The caller
  // sends the exclusions to the service, so that its next reply does not
  // undo the change.
  static bool externalDrivesPressed(bool on);
  static bool emptyFilesPressed(bool on);
  static bool emptyExtensionPressed(bool on);
};

}  // namespace palvero
