// The client's durable work queues in one SQLite file, "palverofiles.db" in
// the support folder: FILESTOBACKUP (files waiting to be backed up, with their
// failures and tries), FILESTORESTORE (files chosen for restore) and BLOCKS
// (checksums of blocks the server is known to hold). Every other layer reaches
// these tables only through the operations below.
//
// Values are bound, never formatted into statements; a batch is written in
// one transaction. The rows of one batch enter the table in path byte order
// with one row per path (the last record of a path wins), which is the order
// in which the selects below give them back.
//
// Failures: no operation throws. Each logs its fixed line (entry type 2,
// session type 2, level 1), for a failed statement followed by the engine's
// message ("Database error: database or disk is full"), and returns false,
// an empty list or 0.
//
// Thread contract: every operation is safe from any thread. One connection,
// opened on first use and kept open, is used under the instance's lock; a
// connection that fails (I/O error, file removed or replaced) is reopened by
// the next operation, and a file SQLite reports as corrupt or not a database
// is renamed aside and replaced by a fresh one.
#pragma once

#include <sys/types.h>

#include <concepts>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/Date.h"
#include "base/Value.h"
#include "state/BackupFile.h"
#include "state/SqliteConnection.h"

namespace palvero {

class SqliteError;

// A block record as the engine and the protocol layer hold it.
template <class Block>
concept HasChecksum = requires(const Block& block) {
  { block.checksum } -> std::convertible_to<std::string>;
};

class DBManager {
 public:
  static constexpr int32_t kDatabaseVersion = 4;
  static constexpr const char* kDatabaseFileName = "palverofiles.db";
  static constexpr int64_t kSelectLimit = 400;
  static constexpr int64_t kFailedFilesLimit = 1000;
  // A failed row is retried automatically while its tries stay below this.
  static constexpr int64_t kMaxTries = 5;
  static constexpr int64_t kMaxCachedBlocks = 1000000;

  static DBManager& sharedDBManager();
  // Closes the shared instance's connection and forgets it; the next call
  // makes a new one for the current support folder.
  static void resetForTesting();

  // The database in the support folder (Env::supportDirectory()).
  DBManager();
  // The database at `databasePath` (benchmarks and tools).
  explicit DBManager(std::string databasePath);
  ~DBManager();
  DBManager(const DBManager&) = delete;
  DBManager& operator=(const DBManager&) = delete;

  const std::string& databasePath() const { return databasePath_; }

  // --- Opening -------------------------------------------------------------

  // (Re)opens the file, creating the folder, the tables and the version row
  // of a new file, or upgrading an older one. False when it cannot be opened.
  bool CreateDatabase();
  // Closes the connection; the next operation opens the file again.
  void closeDatabase();
  // Closes the connection and removes the file with its WAL and shared-memory
  // files (logout). True when the database file existed and was removed.
  bool deleteDatabase();

  // --- File queues ---------------------------------------------------------
  // "Table" is FILESTOBACKUP when `IsForBackup` is true, FILESTORESTORE
  // otherwise. Restore records are dictionaries with "path" (or "name"),
  // "status", "size", "date", "deviceID" (or "deviceId") and "revision";
  // missing fields take status 0, size 0, no device and revision -1.
  // Writes return false when nothing was written.

  // Writes the records as they are; a path written again replaces its row and
  // starts again at 0 tries. A restore row without date gets the text of now.
  bool InsertOrUpdateFileToDatabase(const std::vector<BackupFile>& records, bool IsForBackup);
  bool InsertOrUpdateFileToDatabase(const Value& records, bool IsForBackup);
  // Status 1 with one more try (0 for a path new to the table), error empty.
  bool InsertOrUpdateFilesWithErrorsToDatabase(const std::vector<BackupFile>& records, bool IsForBackup);
  bool InsertOrUpdateFilesWithErrorsToDatabase(const Value& records, bool IsForBackup);
  // Status 3 (to delete on the server), size 0, tries counted as above.
  bool InsertOrUpdateDeletedFilesToDatabase(const std::vector<std::string>& paths, bool IsForBackup);
  // Status 2 (done), tries reset to 0, error empty.
  bool InsertOrUpdateBackupedFilesToDatabase(const std::vector<BackupFile>& records, bool IsForBackup);
  bool InsertOrUpdateBackupedFilesToDatabase(const Value& records, bool IsForBackup);
  // The user's "try again" on finally failed files: status 0, one more try.
  bool changeFailedFilesStatus(const std::vector<BackupFile>& records);

  bool RemoveFileFromDatabase(const std::vector<std::string>& paths, bool IsForBackup);
  bool RemoveAllFilesFromDatabase(bool IsForBackup);
  // Removes the rows with status 3.
  bool RemoveAllFilesToDeleteFromDatabase(bool IsForBackup);
  // Removes the backup rows of these paths that still have status 3 (a path
  // queued again since keeps its row).
  bool RemoveFilesToDeleteFromDatabase(const std::vector<std::string>& paths);
  // Removes the rows with status 2.
  bool RemoveFinishedFilesFromDatabase(bool IsForBackup);
  // Removes every backup row whose path begins with `folder` byte for byte
  // (so "/a/b" also removes "/a/bc/y"). An empty folder removes nothing.
  bool DeleteFilesFromRenamedFolder(const std::string& folder);
  // Failed backup rows with fewer than 5 tries go back to waiting.
  bool ReturnFailedFilesToBackup();

  // Up to 400 rows with the status, in table order (path, status, date, size,
  // error).
  std::vector<BackupFile> SelectFileFromDatabase(bool IsForBackup, int32_t WithStatus);
  // The restore form of the same select: up to 400 dictionaries with "path",
  // "status", "size", "deviceID" and "revision".
  Value SelectRestoreFilesFromDatabase(int32_t WithStatus);
  // Up to 1000 finally failed rows (status 1, 5 tries or more).
  std::vector<BackupFile> selectFailedFiles(bool IsForBackup);
  // Every backup row with status 3.
  std::vector<BackupFile> selectFilesForDelete();

  int64_t GetTotalNumberOfFiles(bool IsForBackup);
  int64_t GetTotalNumberOfFailedFiles(bool IsForBackup);
  int64_t GetTotalNumberOfFailedFilesWithoutTries(bool IsForBackup);
  int64_t GetTotalSizeOfFiles(bool IsForBackup);
  int64_t GetSizeOfBackupedFiles(bool IsForBackup);

  // Doubles every "'" for text that still goes into a statement literally.
  static std::string EscapeSymbols(const std::string& text);

  // --- Block cache ---------------------------------------------------------

  // Records the checksums with the current time. When 1,000,001 or more are
  // cached, first evicts the (cached + new - 1,000,000) oldest.
  bool insertOrUpdateBlocks(const std::vector<std::string>& checksums);
  template <HasChecksum Block>
  bool insertOrUpdateBlocks(const std::vector<Block>& blocks) {
    return insertOrUpdateBlocks(checksumsOf(blocks));
  }
  // The checksums (blocks) that are not cached, in the given order. When the
  // cache cannot be read, all of them: unknown means "ask the server".
  std::vector<std::string> checkBlocks(const std::vector<std::string>& checksums);
  template <HasChecksum Block>
  std::vector<Block> checkBlocks(const std::vector<Block>& blocks) {
    std::unordered_set<std::string> cached = cachedChecksumsAmong(checksumsOf(blocks));
    std::vector<Block> missing;
    for (const Block& block : blocks) {
      if (!cached.count(block.checksum)) missing.push_back(block);
    }
    return missing;
  }
  // Those of `checksums` that are cached; empty when the cache cannot be read.
  std::unordered_set<std::string> cachedChecksumsAmong(const std::vector<std::string>& checksums);
  int64_t getCachedBlocksCount();
  // Evicts the (cached + new - 1,000,000) oldest checksums, if that is above 0.
  bool removeCachedBlocksFor(int64_t cached, int64_t andBlocksCount);
  bool removeAllCachedBlocks();
  bool removeAllBlocks();

  // The text form of a time stored in BACKUPDATE of restore rows and in
  // BLOCKS.DATE: "yyyy-MM-dd HH:mm:ss +0000" (UTC, so that it sorts in time).
  static std::string timestampText(const Date& date);

 private:
  // Operations that log their own fixed lines (several share one set).
  enum class Operation {
    kInsertFile,
    kInsertWithErrors,
    kInsertBackuped,
    kChangeFailed,
    kRemoveFile,
    kRemoveAll,
    kRemoveFinished,
    kRenamedFolder,
    kReturnFailed,
    kSelect,
    kSelectFailed,
    kSelectForDelete,
    kCountFiles,
    kCountFailed,
    kSizeOfFiles,
    kSizeOfBackuped,
    kInsertBlocks,
    kRemoveCachedBlocks,
    kCountBlocks,
    kCheckBlocks,
    kRemoveAllCachedBlocks,
    kRemoveAllBlocks,
  };
  struct OperationMessages {
    const char* cannotOpen;
    const char* sqliteProblem;  // may hold "%i" for the result code
    const char* exception;      // holds "%@" for the reason
  };
  static const OperationMessages& messagesFor(Operation operation);
  struct QueueRow;
  enum class WriteKind { kAsGiven, kCountTry, kDone };

  template <class Block>
  static std::vector<std::string> checksumsOf(const std::vector<Block>& blocks) {
    std::vector<std::string> checksums;
    checksums.reserve(blocks.size());
    for (const Block& block : blocks) checksums.push_back(block.checksum);
    return checksums;
  }

  // Runs `body` on the open connection under the lock; logs the matching line
  // and returns false on any failure.
  bool perform(Operation operation, const std::function<void(SqliteConnection&)>& body);
  bool ensureOpenLocked();
  bool openLocked(bool announce);
  void prepareNewFileLocked();
  void upgradeLocked();
  void createTablesLocked();
  void alterTablesLocked();
  bool storeVersionLocked();
  void handleFailureLocked(const SqliteError& error);
  void setAsideLocked(const std::string& reason);
  void closeLocked();

  // Writes the rows that `makeRows` gives (called under the lock, so that a
  // bad record is reported like any other failure) in one transaction.
  bool writeRows(const std::function<std::vector<QueueRow>()>& makeRows, bool IsForBackup, WriteKind kind,
                 int32_t status, Operation operation);
  static std::vector<QueueRow> rowsFrom(const std::vector<BackupFile>& records);
  static std::vector<QueueRow> rowsFrom(const Value& records);
  std::vector<BackupFile> selectBackupFiles(const std::string& sql, std::optional<int64_t> status, Operation operation);
  int64_t selectNumber(const std::string& sql, Operation operation);
  bool execute(const std::string& sql, Operation operation);

  int64_t blockCountLocked(SqliteConnection& db);
  int64_t evictBlocksLocked(SqliteConnection& db, int64_t count);

  const std::string databasePath_;

  mutable std::mutex mutex_;
  SqliteConnection connection_;              // guarded by mutex_
  dev_t openedDevice_ = 0;                   // guarded by mutex_
  ino_t openedInode_ = 0;                    // guarded by mutex_
  std::optional<int64_t> cachedBlockCount_;  // guarded by mutex_
  int64_t blockCountDataVersion_ = 0;        // guarded by mutex_
};

}  // namespace palvero
