// minizip first: its ioapi.h sets the large-file macros before libc headers.
#include <minizip/zip.h>
//
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "engine/format/FileZipIO.h"
#include "engine/format/MemoryZipIO.h"
#include "engine/format/ZipWriter.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace {

constexpr int kMemLevel = 8;  // zlib's and minizip's default
constexpr uint16_t kUtf8NameFlag = 1 << 11;
constexpr size_t kWriteSlice = 1 << 20;

tm_zip zipDate(const Date& date) {
  auto micros = date.timePoint().time_since_epoch().count();
  std::time_t seconds = static_cast<std::time_t>(micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0));
  std::tm local{};
  localtime_r(&seconds, &local);
  int year = local.tm_year + 1900;
  tm_zip out{};
  if (year < 1980) {
    out.tm_year = 1980;
    out.tm_mday = 1;
    return out;
  }
  if (year > 2107) {
    out = {58, 59, 23, 31, 11, 2107};
    return out;
  }
  out.tm_sec = static_cast<uInt>(local.tm_sec);
  out.tm_min = static_cast<uInt>(local.tm_min);
  out.tm_hour = static_cast<uInt>(local.tm_hour);
  out.tm_mday = static_cast<uInt>(local.tm_mday);
  out.tm_mon = static_cast<uInt>(local.tm_mon);
  out.tm_year = static_cast<uInt>(year);
  return out;
}

bool isAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() { abandon(); }

bool ZipWriter::openFile(const std::string& path) {
  abandon();
  handle_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, FileZipIO::functions());
  return handle_ != nullptr;
}

bool ZipWriter::openMemory(Bytes& out) {
  abandon();
  memory_ = std::make_unique<MemoryZipIO>(out);
  handle_ = zipOpen2_64(nullptr, APPEND_STATUS_CREATE, nullptr, memory_->functions());
  if (!handle_) memory_.reset();
  return handle_ != nullptr;
}

bool ZipWriter::openEntry(const std::string& name, const Date& date, uint64_t size, bool raw) {
  if (!handle_) return false;
  zip_fileinfo info{};
  info.tmz_date = zipDate(date);
  uLong flagBase = isAscii(name) ? 0 : kUtf8NameFlag;
  int zip64 = size >= 0xffffffffULL ? 1 : 0;
  return zipOpenNewFileInZip4_64(handle_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                 Z_DEFAULT_COMPRESSION, raw ? 1 : 0, -MAX_WBITS, kMemLevel, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                 flagBase, zip64) == ZIP_OK;
}

bool ZipWriter::writeData(std::span<const uint8_t> data) {
  for (size_t at = 0; at < data.size(); at += kWriteSlice) {
    auto n = static_cast<unsigned>(std::min(kWriteSlice, data.size() - at));
    if (zipWriteInFileInZip(handle_, data.data() + at, n) != ZIP_OK) return false;
  }
  return true;
}

bool ZipWriter::closeEntry() { return zipCloseFileInZip(handle_) == ZIP_OK; }

bool ZipWriter::addEntry(const std::string& name, std::span<const uint8_t> data, const Date& date) {
  if (!openEntry(name, date, data.size())) return false;
  bool written = writeData(data);
  return closeEntry() && written;
}

bool ZipWriter::addDeflatedEntry(const std::string& name, std::span<const uint8_t> deflated, uint64_t plainSize,
                                 uint32_t crc, const Date& date) {
  if (!openEntry(name, date, plainSize, true)) return false;
  bool written = writeData(deflated);
  return zipCloseFileInZipRaw64(handle_, plainSize, crc) == ZIP_OK && written;
}

bool ZipWriter::addFile(const std::string& name, const std::string& sourcePath) {
  if (!handle_) return false;
  FileSystem& fs = FileSystem::current();
  UniqueFd fd(fs.open(sourcePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd || fs.status(fd.get(), st) != 0 || !S_ISREG(st.st_mode)) return false;
  Date modified(Date::TimePoint(
      std::chrono::microseconds(static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000)));
  if (!openEntry(name, modified, static_cast<uint64_t>(st.st_size))) return false;
  Bytes buffer(kWriteSlice);
  bool ok = true;
  for (;;) {
    ssize_t n = fs.read(fd.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!writeData({buffer.data(), static_cast<size_t>(n)})) {
      ok = false;
      break;
    }
  }
  return closeEntry() && ok;
}

bool ZipWriter::close() {
  if (!handle_) return false;
  bool ok = zipClose(handle_, nullptr) == ZIP_OK;
  handle_ = nullptr;
  memory_.reset();
  return ok;
}

void ZipWriter::abandon() {
  if (handle_) zipClose(handle_, nullptr);
  handle_ = nullptr;
  memory_.reset();
}

}  // namespace palvero
