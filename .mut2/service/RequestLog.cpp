#include "RequestLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "LogRedaction.h"
#include "PrivateFiles.h"
#include "base/Date.h"

namespace palvero::service {
namespace {

int openLogFile(const std::string& path, int64_t& size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  ::fchmod(fd, kPrivateFileMode);
  struct stat st {};
  size = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  return fd;
}

// Every text of the entry cut to the bounds; at most kMaxFields fields and
// kMaxParts parts, with a count of what was left out.
void clipEntry(Value& entry) {
  for (auto& [key, value] : entry.items()) {
    if (value.is_string()) value = clipForLog(value.get<std::string>());
  }
  for (const char* group : {"fields", "headers"}) {
    if (!entry.contains(group) || !entry[group].is_object()) continue;
    Value kept = Value::object();
    size_t left = 0;
    for (auto& [key, value] : entry[group].items()) {
      if (kept.size() >= RequestLog::kMaxFields) {
        ++left;
        continue;
      }
      kept[clipForLog(key, 256)] = value.is_string() ? Value(clipForLog(value.get<std::string>())) : value;
    }
    entry[group] = std::move(kept);
    if (left > 0) entry[std::string(group) + "Omitted"] = left;
  }
  if (entry.contains("files") && entry["files"].is_array() && entry["files"].size() > RequestLog::kMaxParts) {
    size_t left = entry["files"].size() - RequestLog::kMaxParts;
    entry["files"].erase(entry["files"].begin() + RequestLog::kMaxParts, entry["files"].end());
    entry["filesOmitted"] = left;
  }
  if (entry.contains("files") && entry["files"].is_array()) {
    for (auto& part : entry["files"]) {
      for (const char* key : {"name", "filename"}) {
        if (part.contains(key) && part[key].is_string()) part[key] = clipForLog(part[key].get<std::string>(), 1024);
      }
    }
  }
}

}  // namespace

std::string clipForLog(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return text.substr(0, limit) + "...(" + std::to_string(text.size() - limit) + " more bytes)";
}

std::string dumpJson(const Value& value) { return value.dump(-1, ' ', false, Value::error_handler_t::replace); }

RequestLog::RequestLog(const std::string& path, int64_t maxFileBytes, bool keepSecretsInMemory)
    : path_(path), maxFileBytes_(maxFileBytes), keepSecrets_(keepSecretsInMemory) {
  tightenMode(path_ + ".1");
  fd_ = openLogFile(path_, fileBytes_);
}

RequestLog::~RequestLog() {
  if (fd_ >= 0) ::close(fd_);
}

void RequestLog::writeLine(const std::string& line) {
  if (fileBytes_ > 0 && fileBytes_ + static_cast<int64_t>(line.size()) > maxFileBytes_) {
    std::string older = path_ + ".1";
    if (::rename(path_.c_str(), older.c_str()) == 0) {
      ::close(fd_);
      fd_ = -1;
      try {
        fd_ = openLogFile(path_, fileBytes_);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "palvero-service: %s\n", e.what());
        return;
      }
    }
  }
  if (fd_ < 0) return;
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fileBytes_ += static_cast<int64_t>(done);
}

void RequestLog::append(Value entry) {
  // Secrets go before the texts are cut: a JSON value cut short could no
  // longer be read to find them.
  Value redacted = entry;
  redactEntry(redacted);
  clipEntry(redacted);
  if (keepSecrets_) {
    clipEntry(entry);
  } else {
    entry = redacted;
  }
  std::lock_guard lock(mutex_);
  entry["seq"] = redacted["seq"] = ++seq_;
  entry["time"] = redacted["time"] = Date::now().format(Date::kSettingsPattern);
  std::string line = dumpJson(redacted) + '\n';
  writeLine(line);
  size_t size = line.size();
  entries_.push_back(std::move(entry));
  sizes_.push_back(size);
  memoryBytes_ += size;
  while (entries_.size() > kMemoryEntries || (memoryBytes_ > kMemoryBytes && entries_.size() > 1)) {
    memoryBytes_ -= sizes_.front();
    entries_.pop_front();
    sizes_.pop_front();
  }
}

Value RequestLog::entries() const {
  std::lock_guard lock(mutex_);
  Value out = Value::array();
  for (const auto& e : entries_) out.push_back(e);
  return out;
}

void RequestLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  sizes_.clear();
  memoryBytes_ = 0;
}

uint64_t RequestLog::count() const {
  std::lock_guard lock(mutex_);
  return seq_;
}

size_t RequestLog::memoryBytes() const {
  std::lock_guard lock(mutex_);
  return memoryBytes_;
}

}  // namespace palvero::service
