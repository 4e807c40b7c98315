// The per-worker block engine: backs up one file at a time (cut into blocks,
// only the blocks nobody holds yet packed, encrypted and uploaded, then the
// version text recorded) and restores one file at a time (version text, then
// each block fetched, checked and appended). Owns its own request object,
// cutter, packer and cipher; the block table and the settings are shared.
//
// Backup of one file:
//   1. ask for the stored revision ("get_ver"), waiting out outages;
//   2. under ~/Library, skip a file changed less than a day after it;
//   3. cut the file; as each batch of ten is cut, drop blocks the local
//      table knows, ask the service ("check_block"), pack (>= 4,000 bytes and
//      only when smaller) and encrypt with accountCipher the missing blocks
//      from the bytes just read, and hand the batch to the uploader, which
//      sends it ("upload_blocks_multi") and re-checks it, up to 5 attempts,
//      while the next batch is cut;
//   4. unless the file changed since it was cut, upload the version text
//      ("upload_ver"), packed and encrypted with userCipher when it is set.
// Restore of one file: version text, then per block the inline hex or the
// downloaded, decrypted, unpacked bytes whose SHA-256 must match (the next
// block downloading meanwhile); written to a temporary file beside the
// target and renamed over it when whole.
//
// Files in this folder: DeltaHandler.cpp (entry points, stored revision),
// DeltaHandlerBackup.cpp, DeltaHandlerBlocks.cpp (cutting and batches; the
// sending is BlockUploader's, on a thread of its own),
// DeltaHandlerRestore.cpp, DeltaHandlerCompound.cpp (files of several parts),
// DeltaHandlerVerify.cpp (a restore that writes nothing).
//
// Thread contract: see BlockEngine. One file at a time per engine; the
// engine's packer and cipher are never shared; its request object is shared
// with its uploader's thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Bytes.h"
#include "base/Value.h"
#include "engine/BlockEngine.h"
#include "engine/BlockPacker.h"
#include "engine/BlockPrefetcher.h"
#include "engine/BlockUploader.h"
#include "engine/SourceFile.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/Compressor.h"
#include "engine/format/FileBlock.h"
#include "engine/format/FileBlockToSend.h"
#include "engine/format/FileDesc.h"
#include "engine/format/Security.h"

namespace palvero {

class CommunicationServer;
class RestoreTarget;

class DeltaHandler final : public BlockEngine {
 public:
  // Blocks per existence check; the attempts per batch are the uploader's.
  static constexpr size_t kBlocksPerCheck = 10;
  // A changed file under ~/Library gets a new revision only this long after
  // the stored one.
  static constexpr double kLibraryRevisionInterval = 86400;
  static constexpr std::chrono::seconds kOfflinePause{15};
  static constexpr std::chrono::seconds kVersionUploadPause{5};
  // Tries of a file that changes while it is read before a private copy is
  // backed up instead.
  static constexpr int kTriesBeforePrivateCopy = 2;

  // Restore error texts (besides the "Exception occured: %@" form).
  static constexpr const char* kErrorCancelled = "Restore manually cancelled";
  static constexpr const char* kErrorNoVersion = "No file version";
  static constexpr const char* kErrorMissingPart = "Missing part of file";
  static constexpr const char* kErrorIOAccess = "I/O access failed";
  static constexpr const char* kErrorRefusedPath = "Refused restore path";
  static constexpr const char* kErrorInsufficientSpace = "Insufficient disk space";
  static constexpr const char* kErrorCreateDirectory = "Could not create directory";
  static constexpr const char* kErrorMultipleParts = "%s; Multiple parts file restore failed";
  static constexpr const char* kErrorMerging = "Failed during merging complex file";

  // An engine with its own request object (nullptr: one for the configured
  // service address).
  explicit DeltaHandler(std::shared_ptr<CommunicationServer> server = nullptr);
  ~DeltaHandler() override;
  DeltaHandler(const DeltaHandler&) = delete;
  DeltaHandler& operator=(const DeltaHandler&) = delete;

  bool backupFileWithArgs(const Value& args, int64_t WithIterator) override;
  bool restoreFileWithArgs(const Value& args, int64_t WithIterator) override;
  void setCancel(bool cancel) override { cancel_.store(cancel); }
  bool Cancel() const override { return cancel_.load(); }

  // The stored revision `Revision` (-1 the latest) of `path`, read with
  // userCipher; nothing when there is none or it cannot be read.
  // `OfflineBreak` is set when the service could not be reached. Blocks.
  std::optional<FileDesc> GetFileVersion(const std::string& path, int32_t Revision, bool ToBackup, bool& OfflineBreak,
                                         const std::string& DeviceID);

  // What a check of one stored revision found.
  struct RevisionCheck {
    bool restorable = false;
    bool cancelled = false;  // stopped by the cancel flag before the end
    std::string problem;     // why it cannot be restored; "" when it can
    int64_t blocks = 0;      // blocks fetched (inline ones included)
    int64_t bytes = 0;       // their plain bytes
  };
  // Fetches revision `revision` (-1 the latest) of `path` and every block
  // it lists, as a restore would, and checks each block's length and
  // SHA-256 against the version text and that the blocks add up to each
  // part's length. Writes nothing. Waits out outages like a restore (the
  // cancel flag ends the wait). Blocks.
  RevisionCheck verifyFile(const std::string& path, int32_t revision, const std::string& deviceID);

  // The error text of the last failed restore ("" after a success); it is
  // also carried by "RestoreFail". Read it on the worker's thread.
  const std::string& restoreError() const { return restoreError_; }
  // "b<N>" while backing up, "r<N>" while restoring.
  const std::string& currentThreadIndex() const { return currentThreadIndex_; }

 private:
  // --- Backup (DeltaHandlerBackup.cpp) ---
  bool backUpFile(const std::string& path, const std::string& name, int64_t FileLength, int64_t& PreviousFileSize);
  bool BackUpNewFile(FileDesc& desc, int64_t FileLength, const std::string& OriginalPath);
  bool BackUpNextVersion(FileDesc& desc, int64_t FileLength, const std::string& OriginalPath,
                         const FileDesc& PreviousMainFile, bool IsCompoundFile);
  // The steps both revisions share: cut, upload the blocks, record. A file
  // that changes while it is read is tried again once; when it changed on
  // both tries it is backed up from a private copy (backUpFromPrivateCopy).
  bool backUpParts(FileDesc& desc, const std::string& path);
  bool backUpPartsOnce(FileDesc& desc, const std::string& path);
  bool backUpFromPrivateCopy(FileDesc& desc, const std::string& path);
  // The file the bytes of `path` are read from: the private copy while one
  // is in use, else `path` itself.
  const std::string& readPath(const std::string& path) const;
  bool UpdateFileVersion(const std::string& path, const FileDesc& Details, const std::string& ModifiedTime);
  // The version text's bytes as uploaded: plain, or packed and encrypted.
  std::optional<Bytes> versionBytes(const std::string& text, const std::string& path);
  // The version text held by stored bytes; nothing when they cannot be read.
  std::optional<std::string> versionText(const Bytes& stored);

  // --- Blocks (DeltaHandlerBlocks.cpp) ---
  enum class PartOutcome {
    kDone,          // cut whole, every block confirmed
    kGone,          // the file is no longer there
    kCutFailed,     // not read whole or changed while read (logged), or cancelled
    kUploadFailed,  // a batch could not be confirmed
  };
  // The batch being cut: its blocks, the bytes of those that may have to go
  // out, and the blocks of the file already handed to the uploader.
  struct PartBatch {
    std::vector<FileBlock> blocks;
    std::unordered_map<std::string, Bytes> plain;
    std::unordered_set<std::string> submitted;
  };
  // Cuts the file behind `part` and sends its blocks batch by batch as they
  // are cut; remembers the file's identity.
  PartOutcome cutAndUploadPart(FilePart& part, const std::string& path);
  // Attempt 0 of a batch, on the worker: the local table, "check_block",
  // packing what the service lacks; the uploader does the rest.
  bool CheckBlocksExistsAndUploadToServer(PartBatch& batch, const std::string& FilePath, int Iterator);
  // Packs and encrypts one missing block into _blocksToSend.
  void SendDataBlock(PartBatch& batch, const FileBlock& Addition);
  void clearWaitingBlocks();

  // --- Restore (DeltaHandlerRestore.cpp) ---
  bool RestoreFile(const std::string& path, const std::string& TargetPath, int32_t revision,
                   const std::string& DeviceID);
  bool RestoreFile(const std::string& target, const FilePart& Desc, bool IsFilePart, const std::string& changeTime);
  bool restoreFolder(const std::string& target);
  // Writes one part's blocks to `fileToWrite` (beneath `confineTo` when it
  // is given), through a temporary file renamed over it when whole.
  bool writePart(const std::string& fileToWrite, const FilePart& part, const std::string& changeTime,
                 const std::string& confineTo, unsigned mode = 0666);
  // Logs "Restore error: <target>. Ex: <reason>", sets the error text; false.
  bool restoreFailed(const std::string& target, const std::string& reason);
  // False, with "Insufficient disk space" set, when `bytes` do not fit on
  // the volume of `folder`.
  bool hasRoomFor(const std::string& folder, int64_t bytes);
  static int64_t bytesOf(const FilePart& part);
  // The time to stamp for a "yyyyMMdd HH:mm:ss" text: nothing for an
  // unreadable or pre-1970 one.
  static std::optional<Date> changeStamp(const std::string& changeTime);
  // Fetches block `block` (taken from the prefetcher when it brought it),
  // waiting out outages, then starts downloading `next` (may be null); false
  // with the error set.
  bool fetchBlock(Bytes& data, const FileBlock& block, const std::string& target, const FileBlock* next);
  bool GetDataBlock(Bytes& data, const FileBlock& Target, bool& OfflineBreak);
  // GetDataBlock with the reason of a failure.
  enum class BlockFetch { kFetched, kOffline, kCancelled, kNotFetched, kUndecryptable, kMismatch };
  BlockFetch fetchBlockBytes(Bytes& data, const FileBlock& Target, bool& OfflineBreak);
  // verifyFile without the log line (DeltaHandlerVerify.cpp).
  RevisionCheck checkRevision(const std::string& path, int32_t revision, const std::string& deviceID);
  // The plain bytes of a downloaded block: decrypted, unpacked when
  // `packed`, and checked against its length and checksum.
  BlockFetch decodeBlock(Bytes& data, const FileBlock& Target, const Bytes& stored, bool packed);
  bool writeDataFromBlock(const Bytes& data, RestoreTarget& TempFile, size_t IteratorJ);

  // --- Compound files (DeltaHandlerCompound.cpp) ---
  bool RestoreFile(const std::string& target, const FileDesc& Desc);
  // Copies the joined archive `joined` to `fileToWrite` beneath the restore
  // root, stamped with `changeTime`.
  bool installJoined(const std::string& joined, const std::string& fileToWrite, const std::string& changeTime);

  // --- Shared (DeltaHandler.cpp) ---
  std::optional<FileDesc> fetchStoredRevision(const std::string& path, int32_t revision, bool toBackup,
                                              const std::string& deviceID, const std::string& waitName,
                                              bool& cancelled);
  // Sleeps through the clock unless cancelled; true when it was cancelled.
  bool pauseUnlessCancelled(std::chrono::seconds pause);
  void post(const char* name, Value userInfo = Value()) const;
  static void log(uint32_t entryType, int32_t sessionType, const std::string& text, int level);
  // Logs "File was not backed up: <path>. Reason: <reason>".
  static void notBackedUp(const std::string& path, const std::string& reason);
  // The try found the file changed while it was read (it is tried again, or
  // backed up from a private copy): logged, and identityChanged_ set.
  void changedWhileRead(const std::string& path, const std::string& reason);
  // Checksum texts compared without regard to the case of hex digits.
  static bool sameChecksum(const std::string& a, const std::string& b);
  static std::string accountCipher();
  static std::string userCipher();

  const std::shared_ptr<CommunicationServer> communicationServer_;
  std::atomic<bool> cancel_{false};
  BlockCutter cutter_;
  Compressor compressor_;
  // One per cipher text, so that each keeps its derived key: restored
  // blocks use accountCipher, version texts userCipher, alternately for every
  // file (blocks to send are encrypted by packer_).
  Security security_;
  Security versionSecurity_;

  // Fields below are used only by the thread running the current file.
  std::string currentThreadIndex_;
  std::string restoreError_;
  // "restoreRoot" of the current restore: nothing is written outside it.
  std::string restoreRoot_;
  // Whether the current restore may replace an existing local file, and
  // whether it keeps one changed after the revision ("keepNewerLocal").
  bool replaceFiles_ = true;
  bool keepNewerLocal_ = true;
  // Where the current restore wrote beside the target (a dated name), or "".
  std::string writtenBeside_;
  // The file as it was cut: what its blocks and version must still match.
  SourceFile::Identity cutIdentity_;
  // Set when the current try found the file changed while it was read.
  bool identityChanged_ = false;
  // The private copy being read instead of the file ("" when none), and the
  // file as it was when the copy began.
  std::string readPath_;
  std::optional<SourceFile::Identity> copySource_;
  // The sent forms of the current batch's missing blocks.
  std::vector<FileBlockToSend> _blocksToSend;
  BlockPacker packer_;
  // Declared after the request object and the cancel flag they use.
  BlockUploader uploader_;
  BlockPrefetcher prefetcher_;
};

}  // namespace palvero
