#include "app/AppDelegate.h"

#include <filesystem>

#include "app/CommunicationServerLink.h"
#include "app/FirstRun.h"
#include "app/ProcessStartup.h"
#include "base/DispatchQueue.h"
#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/StringFormat.h"
#include "engine/DeltaHandler.h"
#include "platform/PrivateFiles.h"
#include "platform/Env.h"
#include "platform/LoginItem.h"
#include "platform/PreferencesStore.h"
#include "platform/Process.h"
#include "protocol/CommunicationServer.h"
#include "selection/BackupFilter.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

namespace fs = std::filesystem;

void logApp(const std::string& text, int level) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, level);
}

}  // namespace

AppDelegate::AppDelegate(Options options) : options_(std::move(options)) {
  ProcessStartup::installCollaborators();
  if (!options_.makeServerLink) {
    options_.makeServerLink = [] { return std::make_shared<CommunicationServerLink>(); };
  }
  if (!options_.engineFactory) {
    options_.engineFactory = [] { return std::make_shared<DeltaHandler>(); };
  }
  if (!options_.makeSleepMonitor) options_.makeSleepMonitor = [] { return SleepMonitor::create(); };
  if (options_.desktopAlerts) alerts_ = std::make_unique<DesktopAlerts>(options_.alertSender);
}

AppDelegate::~AppDelegate() {
  if (sleepMonitor_) sleepMonitor_->stop();
  if (changeWatcher_) {
    changeWatcher_->stopWatching();
    changeWatcher_->stopBufferTimer();
    changeWatcher_->waitUntilIdle();
  }
  mainViewController_.reset();
  changeWatcher_.reset();
  alerts_.reset();
}

AppDelegate::LaunchState AppDelegate::applicationDidFinishLaunching() {
  // 1-4: the stores, the buffer and its timer, the database.
  auto& settings = LocalSettings::sharedManager();
  CommonExtensions::sharedExtensionsManager();
  buffer_ = std::make_unique<WatcherBuffer>();
  changeWatcher_ = std::make_unique<ChangeWatcher>(*buffer_, this);
  DBManager::sharedDBManager().CreateDatabase();
  changeWatcher_->startBufferTimer();
  loggedOut_.store(false);
  isInSleep_.store(false);

  if (!settings.isInitialized()) {
    FirstRun::storeFirstRunDefaults();
    addSleepNotificationHanlders();
    return LaunchState::kWizard;
  }
  try {
    startNormalPath(false, false);
  } catch (const std::exception& e) {
    logApp(stringWithFormat("Init ex: %s", e.what()), kLogFailure);
  }
  addSleepNotificationHanlders();
  return LaunchState::kMainWindow;
}

void AppDelegate::setMainVC(bool registerLoginItem) {
  try {
    if (!buffer_) {
      buffer_ = std::make_unique<WatcherBuffer>();
      changeWatcher_ = std::make_unique<ChangeWatcher>(*buffer_, this);
      DBManager::sharedDBManager().CreateDatabase();
      changeWatcher_->startBufferTimer();
    }
    startNormalPath(true, registerLoginItem);
  } catch (const std::exception& e) {
    logApp(stringWithFormat("Init ex: %s", e.what()), kLogFailure);
  }
}

void AppDelegate::startNormalPath(bool handOver, bool registerLoginItem) {
  auto& settings = LocalSettings::sharedManager();
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  PrivateFiles::ensureFolder(Env::supportDirectory());
  if (!handOver) deleteUpdater();
  sendClientSettingsIfNewVersion();
  extensions.setDefaultExclusions(std::string(".DS_Store;"));
  if (handOver) settings.setWrongPassInProgress(false);

  mainViewController_ = std::make_unique<MainViewController>(options_.makeServerLink(), options_.engineFactory,
                                                             options_.view, this, options_.controllerOptions);
  mainViewController_->setChangeWatcher(changeWatcher_.get());
  if (!restoreControl_) restoreControl_ = std::make_unique<RestoreQueueControl>(CommunicationServer::create());
  mainViewController_->setRestoreControl(restoreControl_.get());
  mainViewController_->initialize();
  if (registerLoginItem) {
    std::string self = Process::executablePath();
    if (!self.empty()) LoginItem::enable(self, options_.loginItemArguments, "Palvero");
  }
  BackupFilter::sharedManager();
  if (!handOver) FilesToBackup::sharedFilesToBackup().load();
  DBManager::sharedDBManager().RemoveFinishedFilesFromDatabase(true);
  if (options_.watchChanges) startWatcher();
  logApp("Application is initialized", kLogFailure);
}

void AppDelegate::sendClientSettingsIfNewVersion() {
  auto& settings = LocalSettings::sharedManager();
  std::string running = Env::applicationVersion();
  if (settings.localAppVersion().value_or("") == running) return;
  settings.saveParameter("localAppVersion", running);
  settings.save();
  auto link = options_.makeServerLink();
  if (link->syncAuthorise()) link->saveSettings("client");
}

void AppDelegate::startWatcher() {
  if (!changeWatcher_) return;
  if (!changeWatcher_->startWatching()) logApp("The change watcher could not start", kLogFailure);
}

bool AppDelegate::waitUntilWatching(std::chrono::milliseconds timeout) {
  return changeWatcher_ && changeWatcher_->waitUntilWatching(timeout);
}

void AppDelegate::deleteUpdater() {
  std::error_code ec;
  for (const char* name : {"PalveroUpdater.app", "Updater"}) {
    fs::remove_all(fs::path(Env::supportDirectory()) / name, ec);
  }
}

void AppDelegate::applicationWillTerminate() {
  if (terminated_.exchange(true)) return;
  if (sleepMonitor_) sleepMonitor_->stop();
  if (changeWatcher_) {
    // Changes seen in the last seconds are written, not lost with the process.
    changeWatcher_->stopWatching();
    changeWatcher_->stopBufferTimer();
    changeWatcher_->waitUntilIdle();
    if (!loggedOut_.load()) changeWatcher_->flushBuffer();
  }
  if (mainViewController_ && !loggedOut_.load()) {
    if (mainViewController_->backuping()) mainViewController_->stopBackup();
    mainViewController_->writePendingBatch();
  }
  mainViewController_.reset();
  logApp("Application was terminated", kLogFailure);
  if (!loggedOut_.load()) {
    CommonExtensions::sharedExtensionsManager().saveExtensions();
    LocalSettings::sharedManager().save();
  }
}

bool AppDelegate::deleteSettings() {
  PreferencesStore::sharedStore().removePersistentDomain();
  return true;
}

bool AppDelegate::deleteDatabase() { return DBManager::sharedDBManager().deleteDatabase(); }

void AppDelegate::logout() {
  if (mainViewController_ && mainViewController_->backuping()) mainViewController_->stopBackup();
  DispatchQueue queue("logout", 1);
  queue.async([] {
    deleteSettings();
    deleteDatabase();
  });
  queue.waitUntilIdle();
  loggedOut_.store(true);
  closeApp();
}

void AppDelegate::closeApp() {
  if (options_.confirmQuit && !options_.confirmQuit()) return;
  if (options_.terminate) options_.terminate();
}

void AppDelegate::addSleepNotificationHanlders() {
  if (!options_.watchSleep || sleepMonitor_) return;
  sleepMonitor_ = options_.makeSleepMonitor();
  if (!sleepMonitor_) return;
  std::weak_ptr<int> alive = alive_;
  bool started = sleepMonitor_->start(
      [this, alive] {
        RunLoop::main().async([this, alive] {
          if (alive.lock()) receiveSleepNote("PrepareForSleep");
        });
      },
      [this, alive] {
        RunLoop::main().async([this, alive] {
          if (alive.lock()) receiveWakeNote("PrepareForSleep");
        });
      });
  logApp(stringWithFormat("Observers added (%s)", started ? sleepMonitor_->sourceName() : "none"), kLogDetail);
}

void AppDelegate::receiveSleepNote(const std::string& name) {
  isInSleep_.store(true);
  logApp(stringWithFormat("receiveSleepNote: %s", name.c_str()), kLogEvent);
}

void AppDelegate::receiveWakeNote(const std::string& name) {
  logApp(stringWithFormat("receiveWakeNote: %s", name.c_str()), kLogEvent);
  NotificationCenter::defaultCenter().post("EmergencyStop");
}

void AppDelegate::relaunchAfterDelay() {
  if (options_.relaunch) {
    options_.relaunch();
    return;
  }
  Process::relaunchAfterDelay(3, options_.relaunchArguments);
  RunLoop::main().async([this] {
    if (options_.terminate) options_.terminate();
  });
}

bool AppDelegate::isBackupRunning() { return mainViewController_ && mainViewController_->isBackupRunning(); }

void AppDelegate::stopBackup() {
  if (mainViewController_) mainViewController_->stopBackup();
}

void AppDelegate::restartBackup() {
  if (mainViewController_) mainViewController_->restartBackup();
}

void AppDelegate::setScanning(bool scanning) {
  if (mainViewController_) mainViewController_->setScanning(scanning);
}

bool AppDelegate::saveExclusionsToServer() {
  if (mainViewController_) return mainViewController_->saveExclusionsToServer();
  auto link = options_.makeServerLink();
  if (!link->syncAuthorise()) return false;
  link->saveSettings("exclusions");
  return true;
}

}  // namespace palvero
