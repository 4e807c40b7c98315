#include "app/StatusReport.h"

#include "app/MainViewController.h"
#include "platform/Env.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

Value rowJSON(const CheckStatusRow& row) {
  return Value{{"text", row.text}, {"ok", row.ok}, {"image", row.image()}};
}

Value dateJSON(const std::optional<Date>& date) {
  return date ? Value(date->format(Date::kSettingsPattern)) : Value();
}

}  // namespace

StatusReport StatusReport::gather(const std::shared_ptr<ServerLink>& server) {
  StatusReport report;
  auto& settings = LocalSettings::sharedManager();
  report.serverURL = Env::serverURL();
  report.loggedIn = settings.isInitialized();
  report.user = settings.username().value_or("");
  report.device = settings.clientId().value_or("");
  report.lastBackup = settings.dateBackupStarted();
  report.lastScan = settings.dateLastScan();
  auto& database = DBManager::sharedDBManager();
  database.CreateDatabase();
  report.pendingFiles = database.GetTotalNumberOfFiles(true);
  report.pendingBytes = database.GetTotalSizeOfFiles(true);
  report.failedFiles = database.GetTotalNumberOfFailedFiles(true);
  report.failedRetrying = database.GetTotalNumberOfFailedFilesWithoutTries(true) - report.failedFiles;
  report.filesToDelete = static_cast<int64_t>(database.selectFilesForDelete().size());
  if (!report.loggedIn) return report;

  MainViewController controller(server, [] { return std::shared_ptr<BlockEngine>(); }, nullptr, nullptr,
                                MainViewController::Options{false, false, false});
  report.authorised = server->syncAuthorise();
  if (report.authorised) {
    if (auto statistics = server->getStatisticByCategories()) {
      auto used = statistics->find("total_used");
      if (used != statistics->end() && used->second.is_number()) controller.setTotalUsed(used->second.get<int64_t>());
    }
  }
  controller.checkStatusNow();
  report.reachable = controller.connection() != 0;
  report.rows = controller.checkStatusModel();
  return report;
}

Value StatusReport::toJSON() const {
  Value rowsJSON = Value::object();
  if (rows.evaluated) {
    rowsJSON = Value{{"server", rowJSON(rows.server)},           {"storage", rowJSON(rows.storage)},
                     {"lastBackup", rowJSON(rows.lastBackup)},   {"other", rowJSON(rows.other)},
                     {"failedFiles", rowJSON(rows.failedFiles)}, {"version", rowJSON(rows.version)},
                     {"statusOK", rows.statusOK}};
  }
  return Value{{"loggedIn", loggedIn},
               {"reachable", reachable},
               {"authorised", authorised},
               {"server", serverURL},
               {"user", user},
               {"device", device},
               {"check", rowsJSON},
               {"pendingFiles", pendingFiles},
               {"pendingBytes", pendingBytes},
               {"failedFiles", failedFiles},
               {"failedRetrying", failedRetrying},
               {"filesToDelete", filesToDelete},
               {"lastBackup", dateJSON(lastBackup)},
               {"lastScan", dateJSON(lastScan)}};
}

}  // namespace palvero
