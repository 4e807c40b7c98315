#include "app/RestoreForm.h"

#include <sys/stat.h>

#include <ctime>

#include "app/RestoreQueueControl.h"
#include "selection/CommonExtensions.h"

namespace palvero {

RestoreForm RestoreForm::stored() {
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  RestoreForm form;
  form.allData = catalogue.restoreAllData();
  form.originalPlace = catalogue.restoreToOriginalPath() || !catalogue.restoreDestinationPath();
  form.destination = catalogue.restoreDestinationPath().value_or("");
  form.replaceFiles = catalogue.replaceFiles();
  double at = catalogue.restoreDateTimeInterval();
  form.latest = catalogue.restoreLatest() || at <= 0;
  if (at > 0) {
    Date when = Date::fromTimeIntervalSince1970(at);
    form.day = when;
    time_t seconds = static_cast<time_t>(at);
    std::tm local{};
    localtime_r(&seconds, &local);
    form.hour = local.tm_hour;
    form.minute = local.tm_min;
  }
  return form;
}

std::optional<Date> RestoreForm::pointInTime() const {
  if (!day || hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  time_t seconds = static_cast<time_t>(day->timeIntervalSince1970());
  std::tm local{};
  localtime_r(&seconds, &local);
  return Date::fromLocalComponents(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, hour, minute, 0);
}

std::optional<RestoreChoice> RestoreForm::choice(const RestoreSelection& selection, std::string& problem) const {
  RestoreChoice c;
  c.restoreAllData = allData;
  c.restoreLatest = latest;
  c.showDeletedFiles = showDeleted;
  c.keepExisting = !replaceFiles;
  if (!latest) {
    auto at = pointInTime();
    if (!at) {
      problem = kNoDate;
      return std::nullopt;
    }
    c.restoreDate = at->timeIntervalSince1970();
  }
  if (!allData) {
    if (selection.empty()) {
      problem = kNothingChosen;
      return std::nullopt;
    }
    if (auto file = selection.singleFile()) {
      c.restoreSingleFile = true;
      c.singleFileForRestore = std::move(file);
    } else {
      c.filesAndFoldersForRestore = selection.filesAndFoldersForRestore();
      c.filesAndFoldersRemovedFromRestore = selection.filesAndFoldersRemovedFromRestore();
    }
  }
  c.restoreToOriginalPath = originalPlace;
  if (!originalPlace) {
    if (destination.empty() || destination.front() != '/') {
      problem = kNoDestination;
      return std::nullopt;
    }
    struct stat st {};
    if (::stat(destination.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      problem = kDestinationMissing;
      return std::nullopt;
    }
    c.restoreDestinationPath = destination;
  }
  return c;
}

bool RestoreForm::start(RestoreQueueControl& control, const RestoreChoice& choice, bool replaceFiles,
                        std::string& problem) {
  if (control.isRestoring()) {
    problem = kAlreadyRestoring;
    return false;
  }
  CommonExtensions::sharedExtensionsManager().saveParameter("replaceFiles", replaceFiles ? 1 : 0);
  control.startNewRestore(choice);
  return true;
}

}  // namespace palvero
