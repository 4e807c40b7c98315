// Reads a zip archive through minizip, from a file or from memory: the only
// place that calls minizip's unz*() functions. Walks the entries and reads
// one entry at a time, refusing more output than the caller's bound and
// checking each entry's size and CRC-32, so that a damaged archive or an
// inflate bomb fails instead of yielding wrong or unbounded data.
//
// Thread contract: one reader per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/Date.h"

namespace palvero {

class MemoryZipIO;

struct ZipEntryInfo {
  std::string name;  // as stored (not normalised)
  uint64_t uncompressedSize = 0;
  uint64_t compressedSize = 0;
  uint32_t crc = 0;
  uint32_t method = 0;
  uint32_t flag = 0;
  uint32_t versionMadeBy = 0;
  uint32_t externalAttributes = 0;
  Date date;  // the entry's local date and time

  bool isDirectory() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
  bool isEncrypted() const { return (flag & 1) != 0; }
  // Unix permission bits when the archive was made on Unix, else nothing.
  std::optional<uint32_t> unixMode() const;
};

class ZipReader {
 public:
  enum class Step { kEntry, kEnd, kError };
  // Receives the entry's bytes in order; returning false stops the read.
  using Sink = std::function<bool(std::span<const uint8_t>)>;

  ZipReader();
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  bool openFile(const std::string& path);
  // Reads `data` in place; it must outlive the reader.
  bool openMemory(std::span<const uint8_t> data);
  bool close();
  bool isOpen() const { return handle_ != nullptr; }

  uint64_t entryCount() const;
  Step first();
  Step next();
  std::optional<ZipEntryInfo> currentInfo();

  // Reads the current entry whole into `out`. Fails, with `out` cleared and
  // `error` saying why, for encrypted entries, unknown methods, output over
  // `maxSize`, damaged data, or a size or CRC mismatch.
  bool readCurrent(std::vector<uint8_t>& out, uint64_t maxSize, std::string& error);
  // The same, streaming the bytes to `sink`.
  bool readCurrent(const Sink& sink, uint64_t maxSize, std::string& error);

 private:
  void* handle_ = nullptr;
  std::unique_ptr<MemoryZipIO> memory_;
};

}  // namespace palvero
