// The fixed log lines of the database operations, in one place.
#include "state/DBManager.h"

namespace palvero {

const DBManager::OperationMessages& DBManager::messagesFor(Operation operation) {
  static constexpr OperationMessages kInsertFile{"Cannot open database. InsertOrUpdateFileToDatabase method.",
                                                 "SQLite problem in InsertOrUpdateFileToDatabase: %i",
                                                 "Exception in insert or update to database: %@"};
  static constexpr OperationMessages kInsertWithErrors{
      "Cannot open database. InsertOrUpdateFilesWithErrorsToDatabase method.",
      "SQLite problem in InsertOrUpdateFilesWithErrorsToDatabase: %i",
      "Exception in insert files with errors to database: %@"};
  static constexpr OperationMessages kInsertBackuped{
      "Cannot open database. InsertOrUpdateBackupedFilesToDatabase method.",
      "SQLite problem in InsertOrUpdateBackupedFilesToDatabase: %i",
      "Exception in insert backuped files to database: %@"};
  static constexpr OperationMessages kChangeFailed{"Cannot open database. changeFailedFilesStatus method.",
                                                   "SQLite problem in changeFailedFilesStatus: %i",
                                                   "Exception in changeFailedFilesStatus: %@"};
  static constexpr OperationMessages kRemoveFile{"Cannot open database. RemoveFileFromDatabase method.",
                                                 "SQLite problem in RemoveFileFromDatabase: %i",
                                                 "Exception in remove file from database: %@"};
  static constexpr OperationMessages kRemoveAll{"Cannot open database. RemoveAllFilesFromDatabase method.",
                                                "SQLite problem in RemoveAllFilesFromDatabase: %i",
                                                "Exception in remove all files from database: %@"};
  static constexpr OperationMessages kRemoveFinished{"Cannot open database. RemoveFinishedFilesFromDatabase method.",
                                                     "SQLite problem in RemoveFinishedFilesFromDatabase: %i",
                                                     "Exception in remove finished files from database: %@"};
  static constexpr OperationMessages kRenamedFolder{"Cannot open database. DeleteFilesFromRenamedFolder method.",
                                                    "SQLite problem in DeleteFilesFromRenamedFolder: %i",
                                                    "Exception in DeleteFilesFromRenamedFolder: %@"};
  static constexpr OperationMessages kReturnFailed{"Cannot open database. ReturnFailedFilesToBackup method.",
                                                   "SQLite problem in InsertOrUpdateFilesWithErrorsToDatabase: %i",
                                                   "Exception in get failed files to backup: %@"};
  static constexpr OperationMessages kSelect{"Cannot open database. SelectFileFromDatabase method.",
                                             "SQLite problem in SelectFileFromDatabase: %i",
                                             "Exception in select file from database: %@"};
  static constexpr OperationMessages kSelectFailed{"Cannot open database. selectFailedFiles method.",
                                                   "SQLite problem in selectFailedFiles: %i",
                                                   "Exception in select failed file from database: %@"};
  static constexpr OperationMessages kSelectForDelete{"Cannot open database. selectFilesForDelete method.",
                                                      "SQLite problem in selectFilesForDelete: %i",
                                                      "Exception in selectFilesForDelete: %@"};
  static constexpr OperationMessages kCountFiles{"Cannot open database. GetTotalNumberOfFiles method.",
                                                 "SQLite problem in GetTotalNumberOfFiles: %i",
                                                 "Exception in get total number of files from database: %@"};
  static constexpr OperationMessages kCountFailed{"Cannot open database. GetTotalNumberOfFailedFiles method.",
                                                  "SQLite problem in GetTotalNumberOfFailedFiles: %i",
                                                  "Exception in get total number of files from database: %@"};
  static constexpr OperationMessages kSizeOfFiles{"Cannot open database. GetTotalSizeOfFiles method.",
                                                  "SQLite problem in GetTotalSizeOfFiles: %i",
                                                  "Exception in get total size of files from database: %@"};
  static constexpr OperationMessages kSizeOfBackuped{"Cannot open database. GetSizeOfBackupedFiles method.",
                                                     "SQLite problem in GetSizeOfBackupedFiles: %i",
                                                     "Exception in get size of backuped files from database: %@"};
  static constexpr OperationMessages kInsertBlocks{"Cannot open database. insertOrUpdateBlocks method.",
                                                   "SQLite problem in insertOrUpdateBlocks",
                                                   "Exception in insertOrUpdateBlocks: %@"};
  static constexpr OperationMessages kRemoveCachedBlocks{"Cannot open database. insertOrUpdateBlocks method.",
                                                         "SQLite problem in insertOrUpdateBlocks",
                                                         "Exception in removeCachedBlocks: %@"};
  static constexpr OperationMessages kCountBlocks{"Cannot open database. getCachedBlocksCount method.",
                                                  "SQLite problem in insertOrUpdateBlocks",
                                                  "Exception in getCachedBlocksCount: %@"};
  static constexpr OperationMessages kCheckBlocks{"Cannot open database. checkBlocks method.",
                                                  "SQLite problem in checkBlocks: %i", "Exception in checkBlocks: %@"};
  static constexpr OperationMessages kRemoveAllCachedBlocks{"Cannot open database. RemoveAllCashedBlocks method.",
                                                            "SQLite problem in removeAllCashedBlocks: %i",
                                                            "Exception in removeAllCashedBlocks: %@"};
  static constexpr OperationMessages kRemoveAllBlocks{"Cannot open database. removeAllBlocks method.",
                                                      "SQLite problem in removeAllBlocks",
                                                      "Exception when trying to remove all blocks from database: %@"};
  switch (operation) {
    case Operation::kInsertFile:
      return kInsertFile;
    case Operation::kInsertWithErrors:
      return kInsertWithErrors;
    case Operation::kInsertBackuped:
      return kInsertBackuped;
    case Operation::kChangeFailed:
      return kChangeFailed;
    case Operation::kRemoveFile:
      return kRemoveFile;
    case Operation::kRemoveAll:
      return kRemoveAll;
    case Operation::kRemoveFinished:
      return kRemoveFinished;
    case Operation::kRenamedFolder:
      return kRenamedFolder;
    case Operation::kReturnFailed:
      return kReturnFailed;
    case Operation::kSelect:
      return kSelect;
    case Operation::kSelectFailed:
      return kSelectFailed;
    case Operation::kSelectForDelete:
      return kSelectForDelete;
    case Operation::kCountFiles:
      return kCountFiles;
    case Operation::kCountFailed:
      return kCountFailed;
    case Operation::kSizeOfFiles:
      return kSizeOfFiles;
    case Operation::kSizeOfBackuped:
      return kSizeOfBackuped;
    case Operation::kInsertBlocks:
      return kInsertBlocks;
    case Operation::kRemoveCachedBlocks:
      return kRemoveCachedBlocks;
    case Operation::kCountBlocks:
      return kCountBlocks;
    case Operation::kCheckBlocks:
      return kCheckBlocks;
    case Operation::kRemoveAllCachedBlocks:
      return kRemoveAllCachedBlocks;
    case Operation::kRemoveAllBlocks:
      return kRemoveAllBlocks;
  }
  return kInsertFile;
}

}  // namespace palvero
