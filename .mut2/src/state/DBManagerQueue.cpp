// The file queues FILESTOBACKUP and FILESTORESTORE.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include "base/StringFormat.h"
#include "base/NumberCast.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"

namespace palvero {

struct DBManager::QueueRow {
  std::string path;
  int32_t status = kQueueWaiting;
  int64_t size = 0;
  std::optional<std::string> date;
  std::optional<std::string> deviceId;
  std::optional<int32_t> revision;
};

namespace {

const char* tableFor(bool IsForBackup) { return IsForBackup ? "FILESTOBACKUP" : "FILESTORESTORE"; }

// Numbers in restore dictionaries arrive as JSON numbers or as their text.
int64_t numberField(const Value& object, std::initializer_list<const char*> keys, int64_t fallback) {
  for (const char* key : keys) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) continue;
    if (it->is_number()) return saturatingInteger<int64_t>(*it);
    if (it->is_string()) {
      const std::string& text = it->get_ref<const std::string&>();
      size_t used = 0;
      int64_t value = std::stoll(text, &used);
      if (used != text.size()) throw std::invalid_argument(std::string("\"") + key + "\" is not a number: " + text);
      return value;
    }
    throw std::invalid_argument(std::string("\"") + key + "\" is not a number");
  }
  return fallback;
}

std::optional<std::string> textField(const Value& object, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) continue;
    if (!it->is_string()) throw std::invalid_argument(std::string("\"") + key + "\" is not a text");
    return it->get<std::string>();
  }
  return std::nullopt;
}

}  // namespace

std::vector<DBManager::QueueRow> DBManager::rowsFrom(const std::vector<BackupFile>& records) {
  std::vector<QueueRow> rows;
  rows.reserve(records.size());
  for (const BackupFile& record : records) {
    rows.push_back(QueueRow{record.path, record.status, record.size, record.date, std::nullopt, std::nullopt});
  }
  return rows;
}

std::vector<DBManager::QueueRow> DBManager::rowsFrom(const Value& records) {
  if (!records.is_array()) throw std::invalid_argument("the records are not a list");
  std::vector<QueueRow> rows;
  rows.reserve(records.size());
  for (const Value& record : records) {
    if (!record.is_object()) throw std::invalid_argument("a record is not a dictionary");
    QueueRow row;
    auto path = textField(record, {"path", "name"});
    if (!path) throw std::invalid_argument("a record has no path");
    row.path = std::move(*path);
    row.status = static_cast<int32_t>(numberField(record, {"status"}, kQueueWaiting));
    row.size = numberField(record, {"size"}, 0);
    row.date = textField(record, {"date"});
    row.deviceId = textField(record, {"deviceID", "deviceId"});
    if (record.contains("revision") && !record["revision"].is_null()) {
      row.revision = static_cast<int32_t>(numberField(record, {"revision"}, -1));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

namespace {

// One row per path, the last record winning; then path byte order, the order
// in which one compound INSERT ... SELECT ... UNION would add them.
template <class Row>
void normalizeBatch(std::vector<Row>& rows) {
  std::unordered_map<std::string_view, size_t> lastIndex;
  lastIndex.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) lastIndex[rows[i].path] = i;
  if (lastIndex.size() != rows.size()) {
    std::vector<Row> unique;
    unique.reserve(lastIndex.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      if (lastIndex[rows[i].path] == i) unique.push_back(std::move(rows[i]));
    }
    lastIndex.clear();
    rows = std::move(unique);
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.path < b.path; });
}

const char* writeStatement(bool IsForBackup, int kind) {
  static const char* const kBackup[] = {
      "INSERT OR REPLACE INTO FILESTOBACKUP (PATH, STATUS, SIZE, BACKUPDATE) VALUES (?1, ?2, ?3, ?4)",
      "INSERT OR REPLACE INTO FILESTOBACKUP (PATH, STATUS, SIZE, BACKUPDATE, ERROR, NUMBEROFTRIES) "
      "VALUES (?1, ?2, ?3, ?4, '', COALESCE((SELECT NUMBEROFTRIES + 1 FROM FILESTOBACKUP WHERE PATH = ?1), 0))",
      "INSERT OR REPLACE INTO FILESTOBACKUP (PATH, STATUS, SIZE, BACKUPDATE, ERROR, NUMBEROFTRIES) "
      "VALUES (?1, ?2, ?3, ?4, '', 0)",
  };
  // A result keeps the row's device, revision and date: the record that
  // reports it may carry only the path and the size.
  static const char* const kRestore[] = {
      "INSERT OR REPLACE INTO FILESTORESTORE (PATH, STATUS, SIZE, BACKUPDATE, DEVICEID, REVISION) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
      "INSERT INTO FILESTORESTORE (PATH, STATUS, SIZE, ERROR, NUMBEROFTRIES, DEVICEID, REVISION) "
      "VALUES (?1, ?2, ?3, '', COALESCE((SELECT NUMBEROFTRIES + 1 FROM FILESTORESTORE WHERE PATH = ?1), 0), "
      "?5, COALESCE(?6, -1)) ON CONFLICT(PATH) DO UPDATE SET STATUS = excluded.STATUS, SIZE = excluded.SIZE, "
      "ERROR = '', NUMBEROFTRIES = excluded.NUMBEROFTRIES, DEVICEID = COALESCE(?5, DEVICEID), "
      "REVISION = COALESCE(?6, REVISION)",
      "INSERT INTO FILESTORESTORE (PATH, STATUS, SIZE, ERROR, NUMBEROFTRIES, DEVICEID, REVISION) "
      "VALUES (?1, ?2, ?3, '', 0, ?5, COALESCE(?6, -1)) ON CONFLICT(PATH) DO UPDATE SET "
      "STATUS = excluded.STATUS, SIZE = excluded.SIZE, ERROR = '', NUMBEROFTRIES = 0, "
      "DEVICEID = COALESCE(?5, DEVICEID), REVISION = COALESCE(?6, REVISION)",
  };
  return IsForBackup ? kBackup[kind] : kRestore[kind];
}

}  // namespace

bool DBManager::writeRows(const std::function<std::vector<QueueRow>()>& makeRows, bool IsForBackup, WriteKind kind,
                          int32_t status, Operation operation) {
  const std::string sql = writeStatement(IsForBackup, static_cast<int>(kind));
  const bool asGiven = kind == WriteKind::kAsGiven;
  const std::string now = timestampText(Date::now());
  return perform(operation, [&](SqliteConnection& db) {
    std::vector<QueueRow> rows = makeRows();
    normalizeBatch(rows);
    if (rows.empty()) return;
    SqliteTransaction transaction(db);
    auto insert = db.cached(sql);
    for (const QueueRow& row : rows) {
      insert->bind(1, row.path);
      insert->bind(2, int64_t{asGiven ? row.status : status});
      insert->bind(3, row.size);
      if (IsForBackup) {
        insert->bind(4, row.date ? std::string_view(*row.date) : std::string_view());
      } else {
        if (asGiven) insert->bind(4, row.date && !row.date->empty() ? *row.date : now);
        if (row.deviceId) {
          insert->bind(5, *row.deviceId);
        } else {
          insert->bindNull(5);
        }
        if (row.revision) {
          insert->bind(6, int64_t{*row.revision});
        } else if (asGiven) {
          insert->bind(6, int64_t{-1});
        } else {
          insert->bindNull(6);
        }
      }
      insert->run();
      insert->reset();
    }
    transaction.commit();
  });
}

// --- Writes ------------------------------------------------------------------

bool DBManager::InsertOrUpdateFileToDatabase(const std::vector<BackupFile>& records, bool IsForBackup) {
  if (records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kAsGiven, 0, Operation::kInsertFile);
}

bool DBManager::InsertOrUpdateFileToDatabase(const Value& records, bool IsForBackup) {
  if (records.is_array() && records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kAsGiven, 0, Operation::kInsertFile);
}

bool DBManager::InsertOrUpdateFilesWithErrorsToDatabase(const std::vector<BackupFile>& records, bool IsForBackup) {
  if (records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kCountTry, kQueueFailed,
                   Operation::kInsertWithErrors);
}

bool DBManager::InsertOrUpdateFilesWithErrorsToDatabase(const Value& records, bool IsForBackup) {
  if (records.is_array() && records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kCountTry, kQueueFailed,
                   Operation::kInsertWithErrors);
}

bool DBManager::InsertOrUpdateDeletedFilesToDatabase(const std::vector<std::string>& paths, bool IsForBackup) {
  if (paths.empty()) return true;
  return writeRows(
      [&] {
        std::string queued = Date::now().format(Date::kQueuePattern);
        std::vector<QueueRow> rows;
        rows.reserve(paths.size());
        for (const std::string& path : paths) {
          QueueRow row;
          row.path = path;
          if (IsForBackup) row.date = queued;
          rows.push_back(std::move(row));
        }
        return rows;
      },
      IsForBackup, WriteKind::kCountTry, kQueueToDelete, Operation::kInsertWithErrors);
}

bool DBManager::InsertOrUpdateBackupedFilesToDatabase(const std::vector<BackupFile>& records, bool IsForBackup) {
  if (records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kDone, kQueueDone,
                   Operation::kInsertBackuped);
}

bool DBManager::InsertOrUpdateBackupedFilesToDatabase(const Value& records, bool IsForBackup) {
  if (records.is_array() && records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, IsForBackup, WriteKind::kDone, kQueueDone,
                   Operation::kInsertBackuped);
}

bool DBManager::changeFailedFilesStatus(const std::vector<BackupFile>& records) {
  if (records.empty()) return true;
  return writeRows([&] { return rowsFrom(records); }, true, WriteKind::kCountTry, kQueueWaiting,
                   Operation::kChangeFailed);
}

// --- Removals ----------------------------------------------------------------

bool DBManager::execute(const std::string& sql, Operation operation) {
  return perform(operation, [&](SqliteConnection& db) { db.cached(sql)->run(); });
}

bool DBManager::RemoveFileFromDatabase(const std::vector<std::string>& paths, bool IsForBackup) {
  if (paths.empty()) return true;
  const std::string sql = stringWithFormat("DELETE FROM %s WHERE PATH = ?", tableFor(IsForBackup));
  return perform(Operation::kRemoveFile, [&](SqliteConnection& db) {
    SqliteTransaction transaction(db);
    auto remove = db.cached(sql);
    for (const std::string& path : paths) {
      remove->bind(1, path);
      remove->run();
      remove->reset();
    }
    transaction.commit();
  });
}

bool DBManager::RemoveAllFilesFromDatabase(bool IsForBackup) {
  return execute(stringWithFormat("DELETE FROM %s", tableFor(IsForBackup)), Operation::kRemoveAll);
}

bool DBManager::RemoveAllFilesToDeleteFromDatabase(bool IsForBackup) {
  return execute(stringWithFormat("DELETE FROM %s WHERE STATUS = 3", tableFor(IsForBackup)), Operation::kRemoveAll);
}

bool DBManager::RemoveFilesToDeleteFromDatabase(const std::vector<std::string>& paths) {
  if (paths.empty()) return true;
  return perform(Operation::kRemoveAll, [&](SqliteConnection& db) {
    SqliteTransaction transaction(db);
    auto remove = db.cached("DELETE FROM FILESTOBACKUP WHERE PATH = ? AND STATUS = 3");
    for (const std::string& path : paths) {
      remove->bind(1, path);
      remove->run();
      remove->reset();
    }
    transaction.commit();
  });
}

bool DBManager::RemoveFinishedFilesFromDatabase(bool IsForBackup) {
  return execute(stringWithFormat("DELETE FROM %s WHERE STATUS = 2", tableFor(IsForBackup)),
                 Operation::kRemoveFinished);
}

bool DBManager::DeleteFilesFromRenamedFolder(const std::string& folder) {
  if (folder.empty()) return true;
  // Every text that begins with `folder` sorts at or after it and before the
  // first text that is greater in its prefix: a range on the PATH key.
  std::string upper = folder;
  while (!upper.empty() && static_cast<unsigned char>(upper.back()) == 0xff) upper.pop_back();
  if (!upper.empty()) upper.back() = static_cast<char>(static_cast<unsigned char>(upper.back()) + 1);
  return perform(Operation::kRenamedFolder, [&](SqliteConnection& db) {
    if (upper.empty()) {
      auto remove = db.cached("DELETE FROM FILESTOBACKUP WHERE PATH >= ?1");
      remove->bind(1, folder);
      remove->run();
    } else {
      auto remove = db.cached("DELETE FROM FILESTOBACKUP WHERE PATH >= ?1 AND PATH < ?2");
      remove->bind(1, folder);
      remove->bind(2, upper);
      remove->run();
    }
  });
}

bool DBManager::ReturnFailedFilesToBackup() {
  bool done =
      execute("UPDATE FILESTOBACKUP SET STATUS = 0 WHERE STATUS = 1 AND NUMBEROFTRIES < 5", Operation::kReturnFailed);
  if (done) LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "Database status updated", kLogEvent);
  return done;
}

// --- Selects -----------------------------------------------------------------

std::vector<BackupFile> DBManager::selectBackupFiles(const std::string& sql, std::optional<int64_t> status,
                                                     Operation operation) {
  std::vector<BackupFile> files;
  bool done = perform(operation, [&](SqliteConnection& db) {
    auto select = db.cached(sql);
    if (status) select->bind(1, *status);
    while (select->step()) {
      BackupFile file;
      file.path = select->columnText(0);
      file.status = static_cast<int32_t>(select->columnInt64(1));
      file.size = select->columnInt64(2);
      file.date = select->columnText(3);
      file.error = select->columnText(4);
      files.push_back(std::move(file));
    }
  });
  if (!done) files.clear();
  return files;
}

std::vector<BackupFile> DBManager::SelectFileFromDatabase(bool IsForBackup, int32_t WithStatus) {
  return selectBackupFiles(stringWithFormat("SELECT PATH, STATUS, SIZE, BACKUPDATE, ERROR FROM %s WHERE STATUS = ? "
                                            "ORDER BY rowid LIMIT %lld",
                                            tableFor(IsForBackup), static_cast<long long>(kSelectLimit)),
                           WithStatus, Operation::kSelect);
}

Value DBManager::SelectRestoreFilesFromDatabase(int32_t WithStatus) {
  static const std::string kSql = stringWithFormat(
      "SELECT PATH, STATUS, SIZE, DEVICEID, REVISION FROM FILESTORESTORE WHERE STATUS = ? ORDER BY rowid LIMIT %lld",
      static_cast<long long>(kSelectLimit));
  Value files = Value::array();
  bool done = perform(Operation::kSelect, [&](SqliteConnection& db) {
    auto select = db.cached(kSql);
    select->bind(1, int64_t{WithStatus});
    while (select->step()) {
      files.push_back(Value{{"path", select->columnText(0)},
                            {"status", select->columnInt64(1)},
                            {"size", select->columnInt64(2)},
                            {"deviceID", select->columnText(3)},
                            {"revision", select->columnIsNull(4) ? int64_t{-1} : select->columnInt64(4)}});
    }
  });
  return done ? files : Value::array();
}

std::vector<BackupFile> DBManager::selectFailedFiles(bool IsForBackup) {
  return selectBackupFiles(stringWithFormat("SELECT PATH, STATUS, SIZE, BACKUPDATE, ERROR FROM %s WHERE STATUS = 1 "
                                            "AND NUMBEROFTRIES >= %lld ORDER BY rowid LIMIT %lld",
                                            tableFor(IsForBackup), static_cast<long long>(kMaxTries),
                                            static_cast<long long>(kFailedFilesLimit)),
                           std::nullopt, Operation::kSelectFailed);
}

std::vector<BackupFile> DBManager::selectFilesForDelete() {
  return selectBackupFiles(
      "SELECT PATH, STATUS, SIZE, BACKUPDATE, ERROR FROM FILESTOBACKUP WHERE STATUS = 3 ORDER BY rowid", std::nullopt,
      Operation::kSelectForDelete);
}

// --- Counts and sums ---------------------------------------------------------

int64_t DBManager::selectNumber(const std::string& sql, Operation operation) {
  int64_t number = 0;
  bool done = perform(operation, [&](SqliteConnection& db) {
    auto select = db.cached(sql);
    if (select->step()) number = select->columnInt64(0);
  });
  return done ? number : 0;
}

int64_t DBManager::GetTotalNumberOfFiles(bool IsForBackup) {
  return selectNumber(stringWithFormat("SELECT Count(*) FROM %s WHERE STATUS=0", tableFor(IsForBackup)),
                      Operation::kCountFiles);
}

int64_t DBManager::GetTotalNumberOfFailedFiles(bool IsForBackup) {
  return selectNumber(stringWithFormat("SELECT Count(*) FROM %s WHERE STATUS=1 AND NUMBEROFTRIES >= %lld",
                                       tableFor(IsForBackup), static_cast<long long>(kMaxTries)),
                      Operation::kCountFailed);
}

int64_t DBManager::GetTotalNumberOfFailedFilesWithoutTries(bool IsForBackup) {
  return selectNumber(stringWithFormat("SELECT Count(*) FROM %s WHERE STATUS=1", tableFor(IsForBackup)),
                      Operation::kCountFailed);
}

int64_t DBManager::GetTotalSizeOfFiles(bool IsForBackup) {
  return selectNumber(stringWithFormat("SELECT SUM(SIZE) FROM %s WHERE STATUS == 0", tableFor(IsForBackup)),
                      Operation::kSizeOfFiles);
}

int64_t DBManager::GetSizeOfBackupedFiles(bool IsForBackup) {
  return selectNumber(stringWithFormat("SELECT SUM(SIZE) FROM %s WHERE STATUS == 2", tableFor(IsForBackup)),
                      Operation::kSizeOfBackuped);
}

}  // namespace palvero
