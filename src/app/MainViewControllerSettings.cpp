// Settings changed from the command line while this process runs.
#include <cstring>

#include "app/MainViewController.h"
#include "app/SettingsCatalog.h"
#include "app/SettingsControls.h"
#include "app/SettingsInbox.h"
#include "base/NotificationCenter.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

void MainViewController::takeSettingsFromCommandLine() {
  std::vector<SettingsInbox::Change> changes = SettingsInbox::peek();
  if (changes.empty()) return;
  for (const auto& [key, value] : changes) {
    const SettingsCatalog::Entry* entry = SettingsCatalog::find(key);
    if (!entry) {
      log(kGeneralLogEvent, kSessionOther, "Unknown setting from the command line: " + key, kLogFailure);
      continue;
    }
    log(kGeneralLogEvent, kSessionOther, std::string("Setting changed from the command line: ") + entry->key,
        kLogEvent);
    const std::string name = entry->key;
    try {
      // The timing and the worker count re-arm timers and workers, and
      // tell the service themselves.
      if (name == "BackupTimingType") {
        changeTiming(SettingsControls::timingEntryFor(value.get<int32_t>()));
        continue;
      }
      if (name == "BackupOnSetTime") {
        backupSetOnlyOnTimeCheckboxClicked(value.get<bool>());
        continue;
      }
      if (name == "numberOfThreads") {
        changeNumberOfThreads(sliderPositionForThreads(value.get<int>()));
        continue;
      }
      if (name == "BackupTimingTime" && BackupScheduler::dailyTiming()) {
        if (auto picked = Date::fromValue(value)) dailyBackupDateChanged(*picked);
        continue;
      }
    } catch (const std::exception&) {
      log(kGeneralLogEvent, kSessionOther, "Setting from the command line not understood: " + name, kLogFailure);
      continue;
    }
    if (!SettingsCatalog::apply(*entry, value)) {
      log(kGeneralLogEvent, kSessionOther, "Setting from the command line not stored: " + name, kLogFailure);
      continue;
    }
    if (!entry->serverType) continue;
    if (std::strcmp(entry->serverType, "backup") == 0) {
      sendBackupSettings("Save backup settings - authorise fail");
    } else {
      runInBackground([this] {
        if (!saveExclusionsToServer()) {
          log(kGeneralLogEvent, kSessionOther, "Save exclusions - authorise fail", kLogFailure);
        }
      });
    }
  }
  // Only now: the waiting command reads the inbox's end as "in force".
  SettingsInbox::acknowledge(changes);
  NotificationCenter::defaultCenter().post(SettingsInbox::kSettingsTaken, this);
}

}  // namespace palvero
