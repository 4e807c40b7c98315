// The window side of the main window controller: it receives plain data
// and renders it. Every call comes on the main thread. The defaults do
// nothing, so a front end overrides only what it shows.
#pragma once

#include <string>
#include <vector>

#include "app/StatusModel.h"
#include "base/Value.h"

namespace palvero {

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void statusChanged(const StatusModel&) {}
  virtual void checkStatusChanged(const CheckStatusModel&) {}
  virtual void failedFilesChanged(const std::vector<FailedFile>&) {}
  // The statistics reply: category sizes, "total_used", "total_files_count".
  virtual void statisticsChanged(const Value&) {}
  virtual void backupRunEnded(const RunSummary&) {}
  // An informational alert: localised title and text.
  virtual void showAlert(const std::string&, const std::string&) {}
  // A new version (the service's version text) was downloaded: a window
  // asks the user and calls MainViewController::installUpdate() on yes.
  virtual void updateDownloaded(const std::string&) {}
};

}  // namespace palvero
