#include "app/RestoreStatus.h"

#include <algorithm>

#include "app/Localization.h"
#include "app/RestoreQueueControl.h"
#include "base/StringFormat.h"
#include "state/DBManager.h"

namespace palvero {
namespace {

constexpr double kDecimalGigabyte = 1e9;
constexpr double kDecimalMegabyte = 1e6;

std::string amount(int64_t bytes) {
  bool gigabytes = bytes > kDecimalGigabyte;
  return stringWithFormat("%.2f %s", bytes / (gigabytes ? kDecimalGigabyte : kDecimalMegabyte),
                          L(gigabytes ? "GB" : "MB").c_str());
}

}  // namespace

std::string RestoreStatus::filesLabelFor(Phase phase, int64_t filesLeft) {
  filesLeft = std::max<int64_t>(0, filesLeft);
  switch (phase) {
    case Phase::kNone:
      return "";
    case Phase::kPreparing:
      return L(kPreparing);
    case Phase::kPaused:
      return L("restorePaused") + stringWithFormat(" %ld  ", static_cast<long>(filesLeft)) + L("filepartsToRestore");
    case Phase::kInterrupted:
      return L("restoreInterrupted") + stringWithFormat(" %ld  ", static_cast<long>(filesLeft)) +
             L("filepartsToRestore");
    case Phase::kRunning:
      return stringWithFormat("%lu ", static_cast<unsigned long>(filesLeft)) + L("filepartsToRestore");
  }
  return "";
}

std::string RestoreStatus::sizeTextFor(int64_t restoredBytes, int64_t totalBytes) {
  return L("RestoringFilesSizeTotal") + " " + amount(std::max<int64_t>(0, restoredBytes)) + "/" +
         amount(std::max<int64_t>(0, totalBytes));
}

RestoreStatus RestoreStatus::of(const RestoreQueueControl& control) {
  const RestoreManager& manager = control.manager();
  RestoreStatus status;
  status.failures = manager.failedFiles();
  int64_t total = manager.sizeOfFilesToRestore();
  int64_t restored = manager.totalSizeOfFilesRestored();
  if (manager.restoring()) {
    status.phase = manager.preparing() ? Phase::kPreparing : Phase::kRunning;
    status.filesLeft = manager.filesToRestoreCount() - manager.filesHandled();
    status.buttonEnabled = !manager.preparing();
  } else if (int64_t left = control.unfinishedFiles(); left > 0) {
    status.phase = manager.pausedByUser() ? Phase::kPaused : Phase::kInterrupted;
    status.filesLeft = left;
    status.buttonShowsResume = true;
    status.buttonEnabled = true;
    if (total <= 0) total = DBManager::sharedDBManager().GetTotalSizeOfFiles(false);
  } else {
    return status;
  }
  status.filesLabel = filesLabelFor(status.phase, status.filesLeft);
  if (status.phase != Phase::kPreparing) status.sizeText = sizeTextFor(restored, total);
  status.progress =
      total > 0 ? std::clamp(100.0 * static_cast<double>(restored) / static_cast<double>(total), 0.0, 100.0) : 0;
  return status;
}

}  // namespace palvero
