#include "app/FullBackupSchedule.h"

#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"

namespace palvero {

FullBackupSchedule::AtStart FullBackupSchedule::decideAtStart(Date now) {
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  std::optional<Date> lastFull;
  if (auto stored = extensions.lastFullBackup()) lastFull = Date::fromValue(*stored);
  if (!lastFull) {
    if (!LocalSettings::sharedManager().dateLastScan()) return AtStart::kFirstScanDue;
    extensions.setLastFullBackup(now.toValue());
    extensions.saveExtensions();
    return AtStart::kNothing;
  }
  if (now.timeIntervalSince(*lastFull) <= kInterval) return AtStart::kNothing;
  extensions.setLastFullBackup(now.toValue());
  extensions.setNeedFullBackup(true);
  extensions.saveExtensions();
  return AtStart::kFullBackupDue;
}

}  // namespace palvero
