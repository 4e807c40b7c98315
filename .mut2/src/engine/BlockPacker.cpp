#include "engine/BlockPacker.h"

#include "state/LogWriter.h"

namespace palvero {

std::optional<FileBlockToSend> BlockPacker::pack(Bytes data, const FileBlock& block, const std::string& cipher) {
  auto& logger = LogWriter::sharedLogger();
  const auto plainLength = static_cast<int64_t>(data.size());
  Bytes body;
  bool packed = false;
  // The packed form is only ever used from 4,000 bytes on, so smaller blocks
  // are not packed at all.
  if (plainLength >= kSmallestPackedBlock) {
    Bytes zipped;
    std::string errorText;
    int32_t errorType = 0;
    if (!compressor_.CompressPackageStream(data, zipped, block.checksum, "Octet", errorText, errorType, "")) {
      logger.logEntry(kBackupError, kSessionBackup, "Error: Could not compress data block", kLogFailure);
      return std::nullopt;
    }
    if (!zipped.empty() && static_cast<int64_t>(zipped.size()) < plainLength) {
      body = std::move(zipped);
      packed = true;
    }
  }
  if (!packed) body = std::move(data);
  if (!security_.EncryptStream(body, cipher)) {
    logger.logEntry(kBackupError, kSessionBackup, "Error: Could not encrypt data block", kLogFailure);
    return std::nullopt;
  }
  return FileBlockToSend(std::move(body), packed ? block.checksum + ".pvzip" : block.checksum, plainLength);
}

}  // namespace palvero
