#include "app/SettingsInbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include "base/JsonText.h"
#include "platform/AtomicFile.h"
#include "platform/Env.h"
#include "platform/FileLock.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

void log(const std::string& text) {
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, text, kLogFailure);
}

// The changes in the inbox file; none when there is no file. A file that is
// not a list of changes is dropped with a line in the log: a half-understood
// change must not be applied.
Value readChanges(const std::string& path) {
  std::string text;
  if (!AtomicFile::read(path, text)) return Value::array();
  Value changes = parseJson(text);
  if (!changes.is_array()) {
    log("Settings from the command line are unreadable and were dropped");
    return Value::array();
  }
  return changes;
}

}  // namespace

std::string SettingsInbox::path() { return Env::supportDirectory() + "/settings-inbox.json"; }

bool SettingsInbox::post(const std::string& key, const Value& value) {
  FileLock lock(path() + ".lock", FileLock::Mode::kWait);
  if (!lock.locked()) return false;
  Value changes = readChanges(path());
  Value kept = Value::array();
  for (const auto& change : changes) {
    if (change.is_object() && change.value("key", "") != key) kept.push_back(change);
  }
  kept.push_back(Value{{"key", key}, {"value", value}});
  return AtomicFile::write(path(), kept.dump(), 0600);
}

std::vector<SettingsInbox::Change> SettingsInbox::take() {
  std::vector<Change> taken;
  if (!pending()) return taken;
  FileLock lock(path() + ".lock", FileLock::Mode::kWait);
  if (!lock.locked()) return taken;
  for (const auto& change : readChanges(path())) {
    if (change.is_object() && change.contains("key") && change["key"].is_string() && change.contains("value")) {
      taken.emplace_back(change["key"].get<std::string>(), change["value"]);
    }
  }
  ::unlink(path().c_str());
  return taken;
}

bool SettingsInbox::pending() {
  struct stat info {};
  return ::stat(path().c_str(), &info) == 0;
}

}  // namespace palvero
