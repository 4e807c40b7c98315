// The block engine as a worker sees it: one engine per worker, backing up or
// restoring one file at a time on the worker's thread. DeltaHandler is the
// real engine; queue tests put a double of their own behind this interface.
//
// Outcome: each call returns its result and posts one notification on the
// default centre, on the calling thread, with the engine (as
// `const BlockEngine*`) as sender:
//   backupFileWithArgs   "BackupFileOK" | "BackupFileFail"
//   restoreFileWithArgs  "RestoreOK" ({"writtenBeside": path} when the file
//                        went beside an existing one) | "RestoreFail" {"error": text}
// Nothing is posted (and false returned) when the session cannot be renewed
// at the start; the caller tries the file again later.
//
// Thread contract: the two file operations block the calling thread for the
// whole file (network waits included) and must not run at the same time on
// one engine. setCancel() and Cancel() are safe from any thread.
#pragma once

#include <cstdint>

#include "base/Value.h"

namespace palvero {

class BlockEngine {
 public:
  static constexpr const char* kBackupFileOK = "BackupFileOK";
  static constexpr const char* kBackupFileFail = "BackupFileFail";
  static constexpr const char* kRestoreOK = "RestoreOK";
  static constexpr const char* kRestoreFail = "RestoreFail";

  virtual ~BlockEngine() = default;

  // Backs up one file. `args`: "filePath" (text), "name" (display name),
  // "fileLength" (number, the queue's length). `WithIterator` is the worker
  // number; it names the worker's tag "b<N>".
  virtual bool backupFileWithArgs(const Value& args, int64_t WithIterator) = 0;

  // Restores one file. `args`: "filePath" (the path it was backed up under),
  // "targetPath" (where to write it), "revision" (number, -1 the latest),
  // "deviceID" (text; empty for this device); optional: "restoreRoot" (no
  // write outside it), "replaceFiles" (false: never replace), and
  // "keepNewerLocal" (false: a local file changed after the revision is
  // replaced too; true, the default, writes the revision beside it). The
  // worker's tag is "r<N>".
  virtual bool restoreFileWithArgs(const Value& args, int64_t WithIterator) = 0;

  // Set to stop the current file at its next step; the engine never clears it.
  virtual void setCancel(bool cancel) = 0;
  virtual bool Cancel() const = 0;
};

}  // namespace palvero
