// Fixture pieces shared by the selection tests: a temporary home with the
// selection singletons reset around each test, a queue store that records
// (and can fail) the database writes, and a stand-in for the server's
// immediate delete.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "selection/BackupFilter.h"
#include "selection/BackupQueueStore.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "selection/RemoteDeleter.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"
#include "state/SqliteConnection.h"
#include "support/TempHome.h"

namespace palvero::testing {

// Forwards to the database and records every write.
class RecordingStore : public DatabaseQueueStore {
 public:
  struct Write {
    std::string kind;  // "files" or "deleted"
    size_t count;
  };

  bool insertOrUpdateFiles(const std::vector<BackupFile>& records) override {
    if (onWrite) onWrite();
    if (shouldFail()) return false;
    record({"files", records.size()});
    return DatabaseQueueStore::insertOrUpdateFiles(records);
  }
  bool insertDeletedFiles(const std::vector<std::string>& paths) override {
    if (shouldFail()) return false;
    record({"deleted", paths.size()});
    return DatabaseQueueStore::insertDeletedFiles(paths);
  }

  std::vector<Write> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  std::vector<size_t> sizes(const std::string& kind = "files") const {
    std::vector<size_t> out;
    for (const auto& write : writes()) {
      if (write.kind == kind) out.push_back(write.count);
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    writes_.clear();
  }
  // The n-th write from now (1-based) fails; 0 fails none.
  void failWrite(int n) { failAt_ = n; }
  // Called before each write of files (set before the writes start).
  std::function<void()> onWrite;

 private:
  bool shouldFail() {
    int left = failAt_.load();
    if (left <= 0) return false;
    failAt_ = left - 1;
    return left == 1;
  }
  void record(Write write) {
    std::lock_guard lock(mutex_);
    writes_.push_back(std::move(write));
  }

  mutable std::mutex mutex_;
  std::vector<Write> writes_;
  std::atomic<int> failAt_{0};
};

class FakeDeleter : public RemoteDeleter {
 public:
  bool deletePathImmediately(const std::string& path) override {
    std::lock_guard lock(mutex_);
    paths_.push_back(path);
    return succeeds;
  }
  std::atomic<bool> succeeds{true};
  std::vector<std::string> paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
};

class SelectionHome : public TempHome {
 public:
  SelectionHome() {
    DBManager::sharedDBManager().CreateDatabase();
    resetSelection();
    BackupQueueStore::setCurrent(store);
    RemoteDeleter::setCurrent(deleter);
  }
  ~SelectionHome() {
    BackupQueueStore::setCurrent(nullptr);
    RemoteDeleter::setCurrent(nullptr);
    resetSelection();
  }
  static void resetSelection() {
    BackupFilter::resetForTesting();
    FileScanner::resetForTesting();
    CommonExtensions::resetForTesting();
  }

  std::shared_ptr<RecordingStore> store = std::make_shared<RecordingStore>();
  std::shared_ptr<FakeDeleter> deleter = std::make_shared<FakeDeleter>();
};

// A row of the backup table as stored.
struct Row {
  int32_t status;
  int64_t size;
};

inline bool databaseExists() {
  struct stat st {};
  return stat((Env::supportDirectory() + "/palverofiles.db").c_str(), &st) == 0;
}

inline std::optional<Row> backupRow(const std::string& path) {
  if (!databaseExists()) return std::nullopt;
  auto connection = SqliteConnection::open(Env::supportDirectory() + "/palverofiles.db");
  connection.setBusyTimeout(10000);
  auto statement = connection.prepare("SELECT STATUS, SIZE FROM FILESTOBACKUP WHERE PATH = ?");
  statement.bind(1, path);
  if (!statement.step()) return std::nullopt;
  return Row{static_cast<int32_t>(statement.columnInt64(0)), statement.columnInt64(1)};
}

inline int64_t backupRowCount(const std::string& where = "1") {
  if (!databaseExists()) return 0;
  auto connection = SqliteConnection::open(Env::supportDirectory() + "/palverofiles.db");
  connection.setBusyTimeout(10000);
  auto statement = connection.prepare("SELECT COUNT(*) FROM FILESTOBACKUP WHERE " + where);
  return statement.step() ? statement.columnInt64(0) : -1;
}

// A temporary folder outside the test's home, removed at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/palvero-outside-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string logText() { return readFile(LogWriter::sharedLogger().currentLogFilepath()); }
inline bool logged(const std::string& text) { return logText().find(text) != std::string::npos; }

}  // namespace palvero::testing
