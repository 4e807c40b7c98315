#include "engine/format/ZipArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/format/ZipEntryName.h"
#include "engine/format/ZipReader.h"
#include "engine/format/ZipWriter.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace {

std::atomic<unsigned> gTempCounter{0};

std::string uniqueSuffix() { return std::to_string(::getpid()) + "-" + std::to_string(gTempCounter++); }

std::string parentOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates base/components[0]/... up to `count` components, refusing to pass
// through anything that is not a real folder (a symbolic link in particular).
bool makeInnerFolders(const std::string& base, const std::vector<std::string>& components, size_t count,
                      std::string& error) {
  FileSystem& fs = FileSystem::current();
  std::string current = base;
  for (size_t i = 0; i < count; ++i) {
    current += "/" + components[i];
    if (fs.mkdir(current, 0755) == 0) continue;
    if (errno != EEXIST) {
      error = current + ": " + std::strerror(errno);
      return false;
    }
    struct stat st {};
    if (fs.status(current, st, false) != 0 || !S_ISDIR(st.st_mode)) {
      error = current + " exists and is not a folder";
      return false;
    }
  }
  return true;
}

}  // namespace

ZipArchive::ZipArchive(ZipArchiveDelegate* delegate) : delegate_(delegate) {}

ZipArchive::~ZipArchive() { discardWriter(); }

void ZipArchive::report(const char* message, const std::string& detail) {
  if (delegate_) delegate_->ErrorMessage(detail.empty() ? std::string(message) : std::string(message) + ": " + detail);
}

void ZipArchive::discardWriter() {
  if (writer_) {
    writer_.reset();
    FileSystem::current().unlink(tempPath_);
  }
  tempPath_.clear();
  finalPath_.clear();
}

bool ZipArchive::CreateZipFile2(const std::string& path) {
  discardWriter();
  tempPath_ = parentOf(path) + "/.palvero-zip-" + uniqueSuffix();
  finalPath_ = path;
  // The archive replaces `path` with the mode `path` already has (a private
  // scratch file stays private); the writer keeps the mode of the file it
  // opens.
  FileSystem& fs = FileSystem::current();
  struct stat existing {};
  mode_t mode = fs.status(path, existing, true) == 0 ? (existing.st_mode & 0777) : 0666;
  UniqueFd created(fs.open(tempPath_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (created) fs.chmod(created.get(), mode);
  writer_ = std::make_unique<ZipWriter>();
  if (!created || !writer_->openFile(tempPath_)) {
    report("Failed", "cannot create " + path + ": " + std::strerror(errno));
    discardWriter();
    return false;
  }
  return true;
}

bool ZipArchive::addFileToZip(const std::string& file, const std::string& newname) {
  if (!writer_) return false;
  if (!writer_->addFile(newname, file)) {
    report("Failed", "cannot add " + file + " as " + newname);
    return false;
  }
  return true;
}

bool ZipArchive::CloseZipFile2() {
  if (!writer_) return false;
  bool ok = writer_->close();
  writer_.reset();
  FileSystem& fs = FileSystem::current();
  ok = ok && fs.rename(tempPath_, finalPath_) == 0;
  if (!ok) {
    report("Failed", "cannot finish " + finalPath_);
    fs.unlink(tempPath_);
  }
  tempPath_.clear();
  finalPath_.clear();
  return ok;
}

bool ZipArchive::UnzipOpenFile(const std::string& path) {
  reader_ = std::make_unique<ZipReader>();
  if (!reader_->openFile(path)) {
    reader_.reset();
    report("Failed", "cannot open " + path);
    return false;
  }
  return true;
}

bool ZipArchive::UnzipCloseFile() {
  if (!reader_) return false;
  bool ok = reader_->close();
  reader_.reset();
  return ok;
}

bool ZipArchive::planExtraction(const std::string& path, std::vector<PlannedEntry>& plan) {
  uint64_t declared = 0;
  ZipReader::Step step = reader_->first();
  for (; step == ZipReader::Step::kEntry; step = reader_->next()) {
    auto info = reader_->currentInfo();
    if (!info) {
      report("Error occurs while getting file info", path);
      return false;
    }
    if (info->isDirectory() && ZipEntryName::components(info->name).empty()) {
      plan.push_back({{}, true});
      continue;
    }
    if (!ZipEntryName::isSafeToExtract(info->name)) {
      report("Failed", "entry name reaches outside the target folder: " + info->name);
      return false;
    }
    declared += info->uncompressedSize;
    if (declared > maxExtractedSize_) {
      report("Failed", "archive holds more than " + std::to_string(maxExtractedSize_) + " bytes");
      return false;
    }
    plan.push_back({ZipEntryName::components(info->name), info->isDirectory()});
  }
  if (step == ZipReader::Step::kError) {
    report("Failed to reading zip file", path);
    return false;
  }
  return true;
}

ZipArchive::Extracted ZipArchive::extractCurrent(const std::string& target, bool overWrite, uint64_t room,
                                                 uint64_t& written) {
  FileSystem& fs = FileSystem::current();
  struct stat existing {};
  if (!overWrite && fs.status(target, existing, false) == 0 && delegate_ && !delegate_->OverWriteOperation(target)) {
    return Extracted::kSkipped;
  }
  auto info = reader_->currentInfo();
  if (!info) {
    report("Error occurs while getting file info", target);
    return Extracted::kFailed;
  }
  std::string temp = parentOf(target) + "/.palvero-unzip-" + uniqueSuffix();
  UniqueFd fd(fs.open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd) {
    report("Error occurs", "cannot create " + temp + ": " + std::strerror(errno));
    return Extracted::kFailed;
  }
  std::string error;
  uint64_t entryBytes = 0;
  bool ok = reader_->readCurrent(
      [&](std::span<const uint8_t> chunk) {
        entryBytes += chunk.size();
        return fs.writeAll(fd.get(), chunk.data(), chunk.size());
      },
      room, error);
  if (ok) {
    if (auto mode = info->unixMode()) fs.chmod(fd.get(), (*mode & 0755) | 0600);
    ok = fs.close(fd.release()) == 0;
    if (!ok) error = "cannot write " + temp;
  }
  if (ok && fs.rename(temp, target) != 0) {
    ok = false;
    error = "cannot move into place " + target + ": " + std::strerror(errno);
  }
  if (!ok) {
    fs.unlink(temp);
    report("Failed to reading zip file", info->name + ": " + error);
    return Extracted::kFailed;
  }
  written += entryBytes;
  auto micros = info->date.timePoint().time_since_epoch().count();
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(micros / 1000000);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (fs.setTimesAt(AT_FDCWD, target, times, AT_SYMLINK_NOFOLLOW) != 0) report("Failed to set attributes", target);
  return Extracted::kWritten;
}

bool ZipArchive::UnzipFileTo(const std::string& path, bool overWrite) {
  if (!reader_) return false;
  // Every name and the total size are checked before anything is written.
  std::vector<PlannedEntry> plan;
  if (!planExtraction(path, plan)) return false;
  if (!FileSystem::current().makeFolders(path, 0755)) {
    report("Error occurs", "cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  uint64_t written = 0;
  size_t index = 0;
  ZipReader::Step step = reader_->first();
  for (; step == ZipReader::Step::kEntry && index < plan.size(); step = reader_->next(), ++index) {
    const PlannedEntry& entry = plan[index];
    std::string error;
    size_t folders = entry.directory ? entry.components.size() : entry.components.size() - 1;
    if (!makeInnerFolders(path, entry.components, folders, error)) {
      report("Error occurs", error);
      return false;
    }
    if (entry.directory) continue;
    std::string target = path;
    for (const auto& c : entry.components) target += "/" + c;
    if (extractCurrent(target, overWrite, maxExtractedSize_ - written, written) == Extracted::kFailed) return false;
  }
  if (step == ZipReader::Step::kError) {
    report("Failed to reading zip file", path);
    return false;
  }
  return true;
}

}  // namespace palvero
