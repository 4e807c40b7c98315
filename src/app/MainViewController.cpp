// Construction, the initialisation sequence, observers and shutdown.
#include "app/MainViewController.h"

#include "app/FirstScan.h"
#include "app/FullBackupSchedule.h"
#include "app/Localization.h"
#include "app/RestorePresets.h"
#include "app/ThreadManager.h"
#include "app/ThreadWorker.h"
#include "base/DispatchQueue.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "protocol/WorkerActivity.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "selection/QueueRebuild.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {

MainViewController::MainViewController(std::shared_ptr<ServerLink> server, EngineFactory engineFactory,
                                       MainView* view, ApplicationHooks* hooks)
    : MainViewController(std::move(server), std::move(engineFactory), view, hooks, Options()) {}

MainViewController::MainViewController(std::shared_ptr<ServerLink> server, EngineFactory engineFactory,
                                       MainView* view, ApplicationHooks* hooks, Options options)
    : server_(std::move(server)),
      engineFactory_(std::move(engineFactory)),
      view_(view),
      hooks_(hooks),
      options_(options),
      run_(runCallbacks()),
      scheduler_(schedulerHost()) {
  installStamper();
}

MainViewController::~MainViewController() {
  destroying_.store(true);
  for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
  scheduler_.stopAll();
  run_.dropHeldStarts();
  run_.cancelEngines();
  for (const auto& worker : ThreadWorker::sharedThreadWorker().restoreThreads()) {
    worker->deltaHandler->setCancel(true);
  }
  ThreadManager::sharedThreadManager().waitForWorkerThreads(std::chrono::minutes(1));
  {
    std::unique_lock lock(backgroundMutex_);
    backgroundDone_.wait(lock, [this] { return backgroundTasks_ == 0; });
  }
  WorkerActivity::setStamper(nullptr);
}

void MainViewController::log(uint32_t entryType, int32_t sessionType, const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(entryType, sessionType, text, level);
}

void MainViewController::runOnMain(std::function<void()> task) {
  RunLoop::main().async([alive = std::weak_ptr<int>(alive_), task = std::move(task)] {
    if (alive.lock()) task();
  });
}

void MainViewController::runInBackground(std::function<void()> task) {
  {
    std::lock_guard lock(backgroundMutex_);
    ++backgroundTasks_;
  }
  DispatchQueue::global().async([this, task = std::move(task)] {
    if (!destroying_.load()) task();
    std::lock_guard lock(backgroundMutex_);
    if (--backgroundTasks_ == 0) backgroundDone_.notify_all();
  });
}

void MainViewController::initialize() {
  auto& settings = LocalSettings::sharedManager();
  auto& extensions = CommonExtensions::sharedExtensionsManager();

  // 1-2: the session, the settings refresh and a status check a second later.
  server_->syncAuthorise();
  if (options_.periodicTimers) updateSettings();
  if (options_.checkStatusAtStart) {
    scheduler_.keepPeriodic(Timer::scheduled(std::chrono::seconds(1), false, [this] { checkStatus(); }));
  }

  // 3: the scanner follows the external-drives switch.
  FileScanner::sharedFileScanner().setIncludeExternalDrives(extensions.externalhd());
  {
    std::lock_guard lock(stateMutex_);
    status_.threadSliderPosition = sliderPositionForThreads(settings.numberOfThreads());
  }

  // 4: failed files, the pending batch and the counts.
  tryToBackupFailedFiles();
  run_.loadPending();
  recountFilesToBackup();

  // 5: statistics, periodic timers, the scheduler's timer.
  if (options_.periodicTimers) {
    updateStatistic();
    startPeriodicTimers();
  }
  armScheduleAtStart();

  // 6: observers and flags.
  registerObservers();
  log(kGeneralLogEvent, kSessionOther, "MainViewController initialized", kLogEvent);

  // 7: the workers.
  DisposeAllThreadsAndReCreate(true);
  DisposeAllThreadsAndReCreate(false);

  // 8: the restore the first run chose to run first.
  bool presetRestore = false;
  if (restoreControl_) {
    if (auto choice = RestorePresets::take()) {
      log(kGeneralLogEvent, kSessionOther, "The restore chosen at the first run starts", kLogEvent);
      restoreControl_->startNewRestore(*choice);
      presetRestore = true;
    }
  }

  // 9-10: version check, support information.
  if (options_.periodicTimers) checkVersion();
  if (options_.requestSupportInfo) server_->getSupportInfo();

  // 11-12: the full backup or first scan that is due, the interrupted
  // rescan, the unfinished restore.
  startPendingWorkAtStart(presetRestore);

  // 13: the hardware identifiers.
  server_->sendSerialNumbers();
  publishStatus();
}

void MainViewController::startPendingWorkAtStart(bool presetRestore) {
  auto& settings = LocalSettings::sharedManager();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  // The 30-day full backup, or the first scan of a folder never scanned.
  FullBackupSchedule::AtStart due = FullBackupSchedule::decideAtStart(Date::now());
  if (due == FullBackupSchedule::AtStart::kFirstScanDue) {
    runInBackground([this] {
      setScanning(true);
      FirstScan::run();
      recountFilesToBackup();
      setScanning(false);
    });
  } else if (!restoring() && settings.needRescanning() && !extensions.needFullBackup()) {
    runInBackground([this] {
      setScanning(true);
      DBManager::sharedDBManager().removeAllCachedBlocks();
      if (QueueRebuild::rebuild(CommonExtensions::sharedExtensionsManager().defaultBackupFolder(), false)) {
        LocalSettings::sharedManager().setNeedRescanning(false);
        LocalSettings::sharedManager().save();
      }
      recountFilesToBackup();
      setScanning(false);
    });
  }
  if (!presetRestore && restoring() && restoreControl_) restoreControl_->startRestore();
}

void MainViewController::startPeriodicTimers() {
  using std::chrono::seconds;
  auto every = [this](seconds period, std::function<void()> task) {
    scheduler_.keepPeriodic(Timer::scheduled(period, true, std::move(task)));
  };
  every(seconds(1), [this] { takeSettingsFromCommandLine(); });
  every(seconds(3), [this] { updateStatusBar(); });
  every(seconds(10), [this] {
    if (statisticsWanted_.load()) updateStatistic();
  });
  every(seconds(10), [this] { checkStatus(); });
  every(seconds(300), [this] { checkIfAppIsAlive(); });
  every(seconds(3600), [this] { updateSettings(); });
  every(seconds(3600), [this] { checkVersion(); });
  every(seconds(7200), [this] { tryToBackupFailedFiles(); });
  every(seconds(600), [this] { runInBackground([this] { deleteFiles(); }); });
}

void MainViewController::registerObservers() {
  auto& center = NotificationCenter::defaultCenter();
  auto observe = [&](const char* name, std::function<void()> handler) {
    observers_.push_back(center.addObserver(name, nullptr, [handler](const Notification&) { handler(); }));
  };
  observe(BlockEngine::kBackupFileOK, [this] { backupOK(); });
  observe(BlockEngine::kBackupFileFail, [this] { backupFail(); });
  observe("CheckVersionOK", [this] { downloadUpdate(); });
  observe("DownloadUpdateOK", [this] { updateClient(); });
  observe("WrongPassword", [this] { wrongPass(); });
  observe("EmergencyStop", [this] { emergencyStop(); });
  observe("EmergencyStart", [this] { emergencyStart(); });
  observe("LogsSentOK", [this] {
    if (view_) view_->showAlert(L("sendLogs"), L("LogsSentOK"));
  });
  observe("LogsSentFail", [this] {
    if (view_) view_->showAlert(L("sendLogs"), L("LogsSentFail"));
  });
}

bool MainViewController::restoring() const { return restoreControl_ && restoreControl_->isRestoring(); }

std::string MainViewController::version() const {
  std::lock_guard lock(stateMutex_);
  return version_;
}

std::optional<int64_t> MainViewController::totalUsed() const {
  std::lock_guard lock(stateMutex_);
  return totalUsed_;
}

void MainViewController::setTotalUsed(std::optional<int64_t> used) {
  std::lock_guard lock(stateMutex_);
  totalUsed_ = used;
}

StatusModel MainViewController::statusModel() const {
  std::lock_guard lock(stateMutex_);
  return status_;
}

CheckStatusModel MainViewController::checkStatusModel() const {
  std::lock_guard lock(stateMutex_);
  return checkStatus_;
}

void MainViewController::setStatusForTesting(bool statusOK, int32_t connection) {
  statusOK_.store(statusOK);
  connection_.store(connection);
}

void MainViewController::setRunFiguresForTesting(bool backuping, int64_t filesToBackupCount, int64_t totalFilesItr,
                                                 int64_t backedUpBytes, int64_t totalBackupBytes) {
  filesToBackupCount_.store(filesToBackupCount);
  run_.setFiguresForTesting(backuping, totalFilesItr, backedUpBytes, totalBackupBytes);
}

void MainViewController::setScanning(bool scanning) {
  scanning_.store(scanning);
  runOnMain([this, scanning] {
    {
      std::lock_guard lock(stateMutex_);
      status_.scanning = scanning;
    }
    publishStatus();
  });
}

bool MainViewController::saveExclusionsToServer() {
  if (!server_->syncAuthorise()) return false;
  server_->saveSettings("exclusions");
  return true;
}

}  // namespace palvero
