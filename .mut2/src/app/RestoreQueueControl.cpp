#include "app/RestoreQueueControl.h"

#include "app/ThreadManager.h"
#include "app/ThreadWorker.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"

namespace palvero {

RestoreQueueControl::RestoreQueueControl(std::shared_ptr<CommunicationServer> server) {
  RestoreManager::Hooks hooks;
  hooks.workers = [] { return ThreadWorker::sharedThreadWorker().restoreThreads(); };
  hooks.startThread = [](const std::shared_ptr<RestoreThread>& worker, std::function<void()> body) {
    ThreadManager::sharedThreadManager().startThread(worker, std::move(body));
  };
  manager_ = std::make_unique<RestoreManager>(std::move(server), CommonExtensions::sharedExtensionsManager(),
                                              std::move(hooks));
}

bool RestoreQueueControl::isRestoring() const {
  if (manager_->restoring()) return true;
  if (started_.load()) return false;
  return CommonExtensions::sharedExtensionsManager().restoring() &&
         DBManager::sharedDBManager().GetTotalNumberOfFiles(false) > 0;
}

bool RestoreQueueControl::isRestorePausedByUser() const { return manager_->pausedByUser(); }

void RestoreQueueControl::pauseRestore() { manager_->pauseRestore(); }

void RestoreQueueControl::startRestore() {
  if (!started_.exchange(true)) manager_->loadChoice();
  manager_->restoreFromDb();
}

void RestoreQueueControl::startNewRestore(const RestoreChoice& choice) {
  started_.store(true);
  manager_->setPausedByUser(false);
  manager_->setChoice(choice);
  manager_->saveChoice();
  manager_->restore();
}

int64_t RestoreQueueControl::unfinishedFiles() const {
  if (manager_->restoring()) return 0;
  return DBManager::sharedDBManager().GetTotalNumberOfFiles(false);
}

void RestoreQueueControl::statusButtonPressed() {
  if (manager_->restoring()) {
    manager_->setPausedByUser(true);
    manager_->pauseRestore();
  } else {
    startRestore();
  }
}

}  // namespace palvero
