// Writes a zip archive through minizip, to a file or into memory: the only
// place that calls minizip's zip*() functions. Every entry is deflated
// (method 8) with a raw deflate stream — by zlib at the default level (6), or
// given ready-made by the caller — dated in local time (clamped to the years
// zip can hold, 1980-2107), with no password and no comment; names that are
// not ASCII carry the UTF-8 flag; entries of 4 GiB or more use zip64.
//
// Thread contract: one writer per thread. The destructor abandons an archive
// that was not closed (its file is left incomplete; callers remove it).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/Bytes.h"
#include "base/Date.h"

namespace palvero {

class MemoryZipIO;

class ZipWriter {
 public:
  ZipWriter();
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Creates (or truncates) the archive file at `path`.
  bool openFile(const std::string& path);
  // Builds the archive in `out` (emptied first); `out` must outlive close().
  bool openMemory(Bytes& out);

  // Adds one entry holding `data`.
  bool addEntry(const std::string& name, std::span<const uint8_t> data, const Date& date);
  // Adds one entry whose raw deflate stream is `deflated`, of `plainSize`
  // bytes with CRC-32 `crc` once inflated; the stream is written as given.
  bool addDeflatedEntry(const std::string& name, std::span<const uint8_t> deflated, uint64_t plainSize, uint32_t crc,
                        const Date& date);
  // Adds one entry holding the content of the regular file `sourcePath`,
  // streamed, dated by the file's modification time.
  bool addFile(const std::string& name, const std::string& sourcePath);

  // Writes the central directory and closes; false when anything failed.
  bool close();
  bool isOpen() const { return handle_ != nullptr; }

 private:
  bool openEntry(const std::string& name, const Date& date, uint64_t size, bool raw = false);
  bool writeData(std::span<const uint8_t> data);
  bool closeEntry();
  void abandon();

  void* handle_ = nullptr;
  std::unique_ptr<MemoryZipIO> memory_;
};

}  // namespace palvero
