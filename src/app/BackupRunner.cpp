#include "app/BackupRunner.h"

#include "app/CommunicationServerLink.h"
#include "app/FirstScan.h"
#include "base/Date.h"
#include "engine/DeltaHandler.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

// Receives the end of the run.
class RunEndView : public MainView {
 public:
  void backupRunEnded(const RunSummary& run) override {
    ended = true;
    summary = run;
  }
  bool ended = false;  // main thread only
  RunSummary summary;  // main thread only
};

}  // namespace

BackupRunner::BackupRunner(Options options) : options_(std::move(options)) {
  if (!options_.server) options_.server = std::make_shared<CommunicationServerLink>();
  if (!options_.engineFactory) options_.engineFactory = [] { return std::make_shared<DeltaHandler>(); };
}

BackupRunner::Result BackupRunner::run(StdRunLoop& loop, const std::function<void(const Progress&)>& onProgress,
                                       const std::atomic<bool>& interrupt) {
  Result result;
  auto& settings = LocalSettings::sharedManager();
  if (!settings.isInitialized()) {
    result.outcome = Outcome::kNotLoggedIn;
    result.message = "this computer is not logged in; run \"palvero login --user NAME\" first";
    return result;
  }
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  // A first scan that was cut short is finished before the run.
  if (settings.needRescanning()) FirstScan::run();

  loop.runPending();  // binds the loop to this thread
  RunEndView view;
  MainViewController::Options controllerOptions;
  controllerOptions.periodicTimers = false;
  controllerOptions.checkStatusAtStart = false;
  controllerOptions.requestSupportInfo = false;
  MainViewController controller(options_.server, options_.engineFactory, &view, nullptr, controllerOptions);
  controller.initialize();
  controller.checkStatusNow();
  result.rows = controller.checkStatusModel();
  result.queuedAtStart = controller.filesToBackupCount();
  result.bytesAtStart = database.GetTotalSizeOfFiles(true);
  if (controller.connection() == 0) {
    result.outcome = Outcome::kUnreachable;
    result.message = "the service at the configured address does not answer";
    return result;
  }
  if (!options_.server->syncAuthorise()) {
    result.outcome = Outcome::kRefused;
    result.message = "the service refused this computer's credentials; run \"palvero login\" again";
    return result;
  }
  // Files removed here (recorded by the watcher) are marked deleted on the
  // service first; rows whose list did not get through stay for next time.
  if (int64_t toDelete = static_cast<int64_t>(database.selectFilesForDelete().size())) {
    controller.deleteFiles();
    result.deletedOnServer = toDelete - static_cast<int64_t>(database.selectFilesForDelete().size());
  }
  if (result.queuedAtStart == 0) {
    result.outcome = Outcome::kNothingToDo;
    return result;
  }
  if (!controller.statusOK()) {
    result.outcome = Outcome::kNotAllowed;
    const CheckStatusModel& rows = result.rows;
    for (const auto* row : {&rows.server, &rows.storage, &rows.failedFiles, &rows.version}) {
      if (!row->ok) result.message += (result.message.empty() ? "" : "; ") + row->text;
    }
    return result;
  }
  if (!controller.startBackup()) {
    result.outcome = Outcome::kRefused;
    result.message = "the backup could not start (the session could not be renewed)";
    return result;
  }

  Date started = Date::now();
  auto progress = [&] {
    if (!onProgress) return;
    RunSummary now = controller.currentRun();
    Progress p;
    p.filesDone = now.filesBackedUp + now.filesFailed;
    p.filesTotal = result.queuedAtStart;
    p.bytesDone = now.bytesBackedUp;
    p.bytesTotal = result.bytesAtStart;
    p.seconds = Date::now().timeIntervalSince(started);
    onProgress(p);
  };
  bool interrupted = false;
  while (!view.ended) {
    loop.runUntil([&] { return view.ended || (interrupt.load() && !interrupted); }, options_.progressInterval);
    if (interrupt.load() && !interrupted) {
      interrupted = true;
      controller.stopBackup();
    }
    if (!view.ended) progress();
  }
  // Let the last workers leave before the controller goes.
  loop.runUntil([&] { return !controller.anyWorkerActive(); }, std::chrono::seconds(60));
  controller.writePendingBatch();
  settings.save();
  CommonExtensions::sharedExtensionsManager().saveExtensions();
  result.summary = view.summary;
  if (interrupted) {
    result.outcome = Outcome::kInterrupted;
  } else if (!view.summary.finished) {
    result.outcome = Outcome::kStopped;
    result.message = view.summary.stopReason;
  }
  return result;
}

}  // namespace palvero
