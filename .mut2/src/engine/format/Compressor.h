// Packing of blocks and version texts into one-entry zip archives, and back;
// the updater archive; the compound-file join.
//
// Packed form: a zip archive whose only entry is named by the caller (a
// block's checksum, a version text's file path), deflated at level 6
// (BlockDeflater: libdeflate, or stored deflate blocks for data a probe finds
// incompressible), dated now, no password, no comment. Packing and unpacking run in memory; the
// per-worker scratch folder "<caches>/PalveroCaches/<thread tag>" is only for
// work that needs files (compound restore, the updater).
//
// Unpacking reads the entry a full extraction would lead to (descending into
// the first name of each folder level, names in byte order), checks its CRC
// and refuses output beyond a bound: at most 2,048,000 bytes for a block,
// kMaxUnpackedSize for version texts and listings.
//
// Thread contract: one Compressor per engine, used by one thread at a time;
// no state is shared between instances, so workers pack and unpack at the
// same time without locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "engine/format/BlockDeflater.h"
#include "engine/format/FilePart.h"

namespace palvero {

class Compressor {
 public:
  // The largest plain block.
  static constexpr uint64_t kMaxBlockSize = 2048000;
  // The default bound for unpacked version texts and listings.
  static constexpr uint64_t kMaxUnpackedSize = uint64_t{512} << 20;

  // Packs `source` as the only entry `PartName` of a zip archive into
  // `TargetStream`. The content type is not used. On failure sets
  // `ErrorText` to "Could not compress file, general stream:%@", `ErrorType`
  // to 1, logs "Exception in CompressPackageStream: %@" and returns false
  // with `TargetStream` empty.
  bool CompressPackageStream(const Bytes& source, Bytes& TargetStream, const std::string& PartName,
                             const std::string& _ContentType, std::string& ErrorText, int32_t& ErrorType,
                             const std::string& ThreadIndex);

  // Unpacks an archive made by CompressPackageStream (or any zip archive)
  // into `TargetStream`. False, with `TargetStream` empty, when `source` is
  // not an archive, is damaged, holds no file, or unpacks to more than
  // `maxSize` bytes; damage and oversize are logged as "Exception in
  // DecompressFromStream: %@". `TempDir` and `ThreadIndex` are kept for the
  // callers' sake; nothing is written to disk.
  bool DecompressFromStream(const Bytes& source, Bytes& TargetStream, bool LogExceptions, const std::string& TempDir,
                            const std::string& ThreadIndex, uint64_t maxSize = kMaxUnpackedSize);

  // The first file found from `folder` by stepping into the first entry (in
  // byte order of names) of each folder level; the folder itself when empty.
  static std::string getFullPath(const std::string& folder);

  // Extracts "updater.zip" of the support folder into its "Updater" folder
  // (overwriting) and deletes the archive. False when the archive is
  // missing; when it cannot be extracted the archive and the partial
  // "Updater" folder are deleted. Errors are logged as
  // "Exception in unzipUpdater: %@".
  bool unzipUpdater();

  // Joins the members listed in `parts` (each found at OriginalPath + "/" +
  // PartName) into one zip archive at `ResultPath`, each entry named by its
  // PartName and dated by the member file's modification time. The archive
  // replaces `ResultPath` only when complete.
  bool CompressFromStreamCompound(const std::vector<FilePart>& parts, const std::string& ResultPath,
                                  const std::string& OriginalPath, const std::string& ThreadIndex);

  // The scratch folder of a worker, "%@/PalveroCaches/%@" (caches folder,
  // thread tag), created with its parents; empty text when it cannot be.
  static std::string scratchFolder(const std::string& ThreadIndex);

 private:
  BlockDeflater deflater_;
  Bytes deflated_;  // reused between calls: the stream of the last entry
};

}  // namespace palvero
