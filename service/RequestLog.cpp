#include "RequestLog.h"

#include "base/Date.h"

namespace palvero::service {

std::string clipForLog(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return text.substr(0, limit) + "...(" + std::to_string(text.size() - limit) + " more bytes)";
}

std::string dumpJson(const Value& value) { return value.dump(-1, ' ', false, Value::error_handler_t::replace); }

RequestLog::RequestLog(const std::string& path) : file_(path, std::ios::app | std::ios::binary) {}

void RequestLog::append(Value entry) {
  std::lock_guard lock(mutex_);
  entry["seq"] = ++seq_;
  entry["time"] = Date::now().format(Date::kSettingsPattern);
  if (file_) {
    file_ << dumpJson(entry) << '\n';
    file_.flush();
  }
  entries_.push_back(std::move(entry));
  while (entries_.size() > kMemoryEntries) entries_.pop_front();
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
}

uint64_t RequestLog::count() const {
  std::lock_guard lock(mutex_);
  return seq_;
}

}  // namespace palvero::service
