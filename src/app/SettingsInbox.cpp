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
  std::vector<Change> taken = peek();
  acknowledge(taken);
  return taken;
}

std::vector<SettingsInbox::Change> SettingsInbox::peek() {
  std::vector<Change> changes;
  if (!pending()) return changes;
  FileLock lock(path() + ".lock", FileLock::Mode::kWait);
  if (!lock.locked()) return changes;
  Value stored = readChanges(path());
  // What cannot be read must not block the inbox for good.
  if (stored.empty()) ::unlink(path().c_str());
  for (const auto& change : stored) {
    if (change.is_object() && change.contains("key") && change["key"].is_string() && change.contains("value")) {
      changes.emplace_back(change["key"].get<std::string>(), change["value"]);
    }
  }
  return changes;
}

void SettingsInbox::acknowledge(const std::vector<Change>& applied) {
  if (!pending()) return;
  FileLock lock(path() + ".lock", FileLock::Mode::kWait);
  if (!lock.locked()) return;
  Value left = Value::array();
  for (const auto& change : readChanges(path())) {
    bool done = false;
    for (const auto& [key, value] : applied) {
      if (change.is_object() && change.value("key", "") == key && change.contains("value") &&
          change["value"] == value) {
        done = true;
      }
    }
    if (!done && change.is_object() && change.contains("key") && change.contains("value")) left.push_back(change);
  }
  if (left.empty() || !AtomicFile::write(path(), left.dump(), 0600)) ::unlink(path().c_str());
}

bool SettingsInbox::pending() {
  struct stat info {};
  return ::stat(path().c_str(), &info) == 0;
}

}  // namespace palvero
