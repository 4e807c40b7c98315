#include "state/LogWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/Date.h"
#include "base/FileURL.h"
#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/FileSystem.h"
#include "platform/PreferencesStore.h"
#include "platform/PrivateFiles.h"
#include "platform/UniqueFd.h"

namespace palvero {
namespace fs = std::filesystem;
namespace {

std::mutex gSharedMutex;
std::unique_ptr<LogWriter>& sharedInstance() {  // guarded by gSharedMutex
  static auto* instance = new std::unique_ptr<LogWriter>();
  return *instance;
}

std::vector<std::unique_ptr<LogWriter>>& retiredInstances() {  // guarded by gSharedMutex
  static auto* retired = new std::vector<std::unique_ptr<LogWriter>>();
  return *retired;
}

void reportToSystemLog(const std::string& what) {
  syslog(LOG_ERR, "Palvero Log Exception: %s", what.c_str());
}

// Size of the file at `path`, creating it empty when it does not exist.
int64_t sizeCreatingFile(const std::string& path) {
  FileSystem& files = FileSystem::current();
  struct stat st {};
  if (files.status(path, st, true) == 0) return st.st_size;
  UniqueFd fd(files.open(path, O_WRONLY | O_CREAT | O_CLOEXEC, PrivateFiles::kFileMode));
  if (!fd) throw std::runtime_error("cannot create " + path);
  return 0;
}

void appendToFile(const std::string& path, const std::string& line) {
  FileSystem& files = FileSystem::current();
  UniqueFd fd(files.open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, PrivateFiles::kFileMode));
  if (!fd) throw std::runtime_error("cannot open " + path);
  struct stat st {};
  if (files.status(fd.get(), st) == 0 && (st.st_mode & 07777) != PrivateFiles::kFileMode) {
    files.chmod(fd.get(), PrivateFiles::kFileMode);
  }
  if (!files.writeAll(fd.get(), line.data(), line.size())) throw std::runtime_error("cannot write " + path);
}

}  // namespace

LogWriter& LogWriter::sharedLogger() {
  std::lock_guard lock(gSharedMutex);
  auto& instance = sharedInstance();
  if (!instance) instance = std::make_unique<LogWriter>();
  return *instance;
}

void LogWriter::resetForTesting() {
  std::lock_guard lock(gSharedMutex);
  if (sharedInstance()) retiredInstances().push_back(std::move(sharedInstance()));
}

LogWriter::LogWriter() {
  auto& store = PreferencesStore::sharedStore();
  folder_ = Env::supportDirectory();
  logNum_ = store.integerForKey("logNum");
  if (auto url = store.stringForKey("logFilepath")) {
    if (auto path = FileURL::toPath(*url)) currentLogFilepath_ = *path;
  }
  // The lines carry the session cookie: folder and files are the user's
  // alone, including those an older build left readable.
  PrivateFiles::ensureFolder(folder_);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder_, ec)) {
    if (entry.path().filename().string().find(".log") != std::string::npos) {
      PrivateFiles::tightenFile(entry.path().string());
    }
  }
  if (currentLogFilepath_.empty()) currentLogFilepath_ = filePathForNumber(logNum_);
}

std::string LogWriter::filePathForNumber(int64_t number) const {
  return stringWithFormat("%s/log%lld.log", folder_.c_str(), static_cast<long long>(number));
}

const char* LogWriter::entryTypeName(uint32_t type) {
  static const char* const kNames[] = {
      "SessionStarted", "SessionEnded",    "GeneralLogEvent", "StartingBackup", "ContinuingBackup",
      "BackupFinished", "BackupError",     "StartingRestore", "RestoreFinished", "RestoreError",
      "FileNotFound",   "FileNotChanged",  "NotSupported"};
  return type < std::size(kNames) ? kNames[type] : "UnknownType";
}

const char* LogWriter::sessionTypeName(int32_t type) {
  switch (type) {
    case 0: return "Backup";
    case 1: return "Restore";
    case 2: return "Other";
    default: return "Unknown";
  }
}

void LogWriter::logEntry(uint32_t logEntry, int32_t LogType, const std::string& Entry, int /*logLevel*/) {
  std::unique_lock lock(mutex_);
  try {
    size_t thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
    std::string line = stringWithFormat("Log%lld | %zu | %s | %s | %s | ", static_cast<long long>(logNum_), thread,
                                        entryTypeName(logEntry), Date::now().shortDateLongTime().c_str(),
                                        sessionTypeName(LogType));
    line += Entry;
    line += '\n';
    if (sizeCreatingFile(currentLogFilepath_) > kMaxFileSize) createNewLogFile(logNum_);
    appendToFile(currentLogFilepath_, line);
  } catch (const std::exception& e) {
    lock.unlock();
    reportToSystemLog(e.what());
  }
}

void LogWriter::createNewLogFile(int64_t logNum) {
  std::lock_guard lock(mutex_);
  if (logNum_ != logNum) return;
  std::string path = filePathForNumber(logNum + 1);
  FileSystem& files = FileSystem::current();
  files.unlink(path);
  UniqueFd fd(files.open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, PrivateFiles::kFileMode));
  logNum_ = logNum + 1;
  currentLogFilepath_ = path;
  cleanLogFiles(folder_);
  save();
}

void LogWriter::cleanLogFiles(const std::string& folder) {
  struct LogFile {
    fs::path path;
    fs::file_time_type modified;
  };
  std::vector<LogFile> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().find(".log") == std::string::npos) continue;
    std::error_code timeError;
    auto modified = fs::last_write_time(it->path(), timeError);
    files.push_back({it->path(), timeError ? fs::file_time_type::min() : modified});
  }
  if (files.size() <= kMaxFiles) return;
  std::sort(files.begin(), files.end(), [](const LogFile& a, const LogFile& b) { return a.modified > b.modified; });
  for (size_t i = kMaxFiles; i < files.size(); ++i) fs::remove(files[i].path, ec);
}

void LogWriter::save() {
  std::lock_guard lock(mutex_);
  auto& store = PreferencesStore::sharedStore();
  store.setObject("logNum", logNum_);
  store.setObject("logFilepath", FileURL::fromPath(currentLogFilepath_));
  store.synchronize();
}

std::string LogWriter::currentLogFilepath() const {
  std::lock_guard lock(mutex_);
  return currentLogFilepath_;
}

int64_t LogWriter::logNum() const {
  std::lock_guard lock(mutex_);
  return logNum_;
}

}  // namespace palvero
