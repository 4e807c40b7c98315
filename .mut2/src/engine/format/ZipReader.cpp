// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/unzip.h>
//
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "engine/format/FileZipIO.h"
#include "engine/format/MemoryZipIO.h"
#include "engine/format/ZipReader.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace {

constexpr uint32_t kUnixHost = 3;
constexpr size_t kReadSlice = 64 * 1024;

constexpr size_t kEndRecordSize = 22;
constexpr size_t kLongestEndSearch = kEndRecordSize + 0xffff;

bool methodSupported(uint32_t method) { return method == 0 || method == Z_DEFLATED; }

// minizip reads past the end as zeros (UNZ_EOF is UNZ_OK) and makes up for a
// shifted central directory, so it accepts an archive cut inside its end
// record. A whole archive ends exactly with its end record and comment.
// `tail` is the end of the archive (up to the longest end record).
bool endsWithCompleteEndRecord(std::span<const uint8_t> tail) {
  if (tail.size() < kEndRecordSize) return false;
  for (size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
    const uint8_t* p = tail.data() + at;
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 5 || p[3] != 6) continue;
    size_t comment = size_t{p[20]} | size_t{p[21]} << 8;
    if (at + kEndRecordSize + comment == tail.size()) return true;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> ZipEntryInfo::unixMode() const {
  if ((versionMadeBy >> 8) != kUnixHost) return std::nullopt;
  uint32_t mode = externalAttributes >> 16;
  if (mode == 0) return std::nullopt;
  return mode;
}

ZipReader::ZipReader() = default;

ZipReader::~ZipReader() { close(); }

bool ZipReader::openFile(const std::string& path) {
  close();
  {
    FileSystem& fs = FileSystem::current();
    UniqueFd fd(fs.open(path, O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fs.status(fd.get(), st) != 0 || !S_ISREG(st.st_mode)) return false;
    size_t size = static_cast<size_t>(st.st_size);
    std::vector<uint8_t> tail(std::min(size, kLongestEndSearch));
    off_t from = static_cast<off_t>(size - tail.size());
    if (fs.readAt(fd.get(), tail.data(), tail.size(), from) != static_cast<ssize_t>(tail.size())) return false;
    if (!endsWithCompleteEndRecord(tail)) return false;
  }
  handle_ = unzOpen2_64(path.c_str(), FileZipIO::functions());
  return handle_ != nullptr;
}

bool ZipReader::openMemory(std::span<const uint8_t> data) {
  close();
  if (!endsWithCompleteEndRecord(data.subspan(data.size() - std::min(data.size(), kLongestEndSearch)))) return false;
  memory_ = std::make_unique<MemoryZipIO>(data);
  handle_ = unzOpen2_64(nullptr, memory_->functions());
  if (!handle_) memory_.reset();
  return handle_ != nullptr;
}

bool ZipReader::close() {
  if (!handle_) return false;
  bool ok = unzClose(handle_) == UNZ_OK;
  handle_ = nullptr;
  memory_.reset();
  return ok;
}

uint64_t ZipReader::entryCount() const {
  unz_global_info64 info{};
  if (!handle_ || unzGetGlobalInfo64(handle_, &info) != UNZ_OK) return 0;
  return info.number_entry;
}

ZipReader::Step ZipReader::first() {
  if (!handle_) return Step::kError;
  int rc = unzGoToFirstFile(handle_);
  if (rc == UNZ_OK) return Step::kEntry;
  // An archive without entries has no first file; that is not an error.
  return rc == UNZ_END_OF_LIST_OF_FILE || (rc == UNZ_PARAMERROR && entryCount() == 0) ? Step::kEnd : Step::kError;
}

ZipReader::Step ZipReader::next() {
  if (!handle_) return Step::kError;
  int rc = unzGoToNextFile(handle_);
  if (rc == UNZ_OK) return Step::kEntry;
  return rc == UNZ_END_OF_LIST_OF_FILE ? Step::kEnd : Step::kError;
}

std::optional<ZipEntryInfo> ZipReader::currentInfo() {
  if (!handle_) return std::nullopt;
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
  std::vector<char> name(info.size_filename + 1, '\0');
  if (unzGetCurrentFileInfo64(handle_, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
      UNZ_OK) {
    return std::nullopt;
  }
  ZipEntryInfo entry;
  entry.name.assign(name.data(), info.size_filename);
  entry.uncompressedSize = info.uncompressed_size;
  entry.compressedSize = info.compressed_size;
  entry.crc = static_cast<uint32_t>(info.crc);
  entry.method = static_cast<uint32_t>(info.compression_method);
  entry.flag = static_cast<uint32_t>(info.flag);
  entry.versionMadeBy = static_cast<uint32_t>(info.version);
  entry.externalAttributes = static_cast<uint32_t>(info.external_fa);
  const tm_unz& d = info.tmu_date;
  entry.date = Date::fromLocalComponents(static_cast<int>(d.tm_year), static_cast<int>(d.tm_mon) + 1,
                                         static_cast<int>(d.tm_mday), static_cast<int>(d.tm_hour),
                                         static_cast<int>(d.tm_min), static_cast<int>(d.tm_sec));
  return entry;
}

bool ZipReader::readCurrent(const Sink& sink, uint64_t maxSize, std::string& error) {
  auto info = currentInfo();
  if (!info) {
    error = "cannot read the entry's header";
    return false;
  }
  if (info->isEncrypted()) {
    error = "entry is encrypted";
    return false;
  }
  if (!methodSupported(info->method)) {
    error = "unsupported compression method " + std::to_string(info->method);
    return false;
  }
  if (info->uncompressedSize > maxSize) {
    error =
        "entry of " + std::to_string(info->uncompressedSize) + " bytes exceeds the limit of " + std::to_string(maxSize);
    return false;
  }
  if (unzOpenCurrentFile(handle_) != UNZ_OK) {
    error = "cannot open the entry";
    return false;
  }
  std::vector<uint8_t> buffer(kReadSlice);
  uint64_t total = 0;
  bool ok = true;
  for (;;) {
    int n = unzReadCurrentFile(handle_, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (n < 0) {
      error = "damaged entry data (" + std::to_string(n) + ")";
      ok = false;
      break;
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > maxSize) {
      error = "entry inflates beyond the limit of " + std::to_string(maxSize) + " bytes";
      ok = false;
      break;
    }
    if (!sink({buffer.data(), static_cast<size_t>(n)})) {
      error = "cannot store the entry's data";
      ok = false;
      break;
    }
  }
  int closed = unzCloseCurrentFile(handle_);
  if (!ok) return false;
  if (closed == UNZ_CRCERROR) {
    error = "CRC mismatch";
    return false;
  }
  if (closed != UNZ_OK) {
    error = "cannot close the entry";
    return false;
  }
  if (total != info->uncompressedSize) {
    error =
        "entry holds " + std::to_string(total) + " bytes, its header says " + std::to_string(info->uncompressedSize);
    return false;
  }
  return true;
}

bool ZipReader::readCurrent(std::vector<uint8_t>& out, uint64_t maxSize, std::string& error) {
  out.clear();
  auto info = currentInfo();
  if (info && info->uncompressedSize <= maxSize) out.reserve(static_cast<size_t>(info->uncompressedSize));
  bool ok = readCurrent(
      [&out](std::span<const uint8_t> chunk) {
        out.insert(out.end(), chunk.begin(), chunk.end());
        return true;
      },
      maxSize, error);
  if (!ok) {
    out.clear();
    out.shrink_to_fit();
  }
  return ok;
}

}  // namespace palvero
