#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

Date dateFromTimestamp(int64_t seconds, uint32_t nanoseconds) {
  return Date(Date::TimePoint(std::chrono::microseconds(seconds * 1000000 + nanoseconds / 1000)));
}

}  // namespace

std::string Functions::getCurrentTime() { return Date::now().format(Date::kSettingsPattern); }

std::optional<Date> Functions::GetFileDateTime(const std::string& path) {
  struct statx st {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &st) != 0) {
    LogWriter::sharedLogger().logEntry(
        kGeneralLogEvent, kSessionOther,
        stringWithFormat("Exception in GetFileDateTime: %s: %s", path.c_str(), std::strerror(errno)), kLogFailure);
    return std::nullopt;
  }
  Date modified = dateFromTimestamp(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
  if ((st.stx_mask & STATX_BTIME) == 0) return modified;
  Date created = dateFromTimestamp(st.stx_btime.tv_sec, st.stx_btime.tv_nsec);
  return created > modified ? created : modified;
}

std::optional<Date> Functions::ParseModifiedDateTime(const std::string& text) {
  if (text.empty()) return Date::distantPast();
  if (text.find('|') != std::string::npos) return std::nullopt;
  return Date::parse(text, Date::kSettingsPattern);
}

}  // namespace palvero
