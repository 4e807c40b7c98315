// The sent form of one block: packed when it is at least 4,000 bytes and the
// packed form is smaller (stored under its checksum + ".pvzip"), then
// encrypted with the account's cipher text. The engine's worker packs the
// blocks of each batch; its uploader keeps a packer of its own for the
// blocks it must read again.
//
// Thread contract: one packer per thread (its Compressor and Security are
// not shared).
#pragma once

#include <optional>
#include <string>

#include "base/Bytes.h"
#include "engine/format/Compressor.h"
#include "engine/format/FileBlock.h"
#include "engine/format/FileBlockToSend.h"
#include "engine/format/Security.h"

namespace palvero {

class BlockPacker {
 public:
  // Plain blocks shorter than this are never sent packed.
  static constexpr int64_t kSmallestPackedBlock = 4000;

  // The record to upload for `block`, whose plain bytes are `data`; nothing
  // when packing or encryption failed (logged as "Error: Could not compress
  // data block" / "Error: Could not encrypt data block").
  std::optional<FileBlockToSend> pack(Bytes data, const FileBlock& block, const std::string& cipher);

 private:
  Compressor compressor_;
  Security security_;
};

}  // namespace palvero
