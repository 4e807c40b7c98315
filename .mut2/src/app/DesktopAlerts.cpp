#include "app/DesktopAlerts.h"

#include <filesystem>

#include "base/StringFormat.h"
#include "platform/Env.h"
#include "platform/Process.h"
#include "restore/RestoreManager.h"
#include "state/LocalSettings.h"
#include "state/LogWriter.h"

namespace palvero {
namespace {

using Message = DesktopNotifier::Message;
using Urgency = DesktopNotifier::Urgency;

std::string textOf(const Value& info, const char* key) {
  return info.is_object() && info.contains(key) && info[key].is_string() ? info[key].get<std::string>() : "";
}

int64_t numberOf(const Value& info, const char* key) {
  return info.is_object() && info.contains(key) && info[key].is_number() ? info[key].get<int64_t>() : 0;
}

}  // namespace

DesktopAlerts::DesktopAlerts(Sender sender) : sender_(std::move(sender)) {
  if (!sender_) {
    std::shared_ptr<DesktopNotifier> notifier = DesktopNotifier::create("Palvero", Env::bundleIdentifier());
    if (notifier) {
      sender_ = [notifier](const Message& message) { return notifier->send(message).has_value(); };
    } else {
      LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                         "No session bus: desktop notifications are not shown", kLogEvent);
    }
  }
  auto& center = NotificationCenter::defaultCenter();
  auto observe = [&](const char* name, Message (*text)(const Value&)) {
    tokens_.push_back(center.addObserver(name, nullptr,
                                         [this, text](const Notification& n) { alert(text(n.userInfo)); }));
  };
  observe(kFilesFailedForGood, &filesFailedForGood);
  observe(kStorageFull, &storageFull);
  observe(kScheduledBackupNotStarted, &scheduledBackupNotStarted);
  observe(RestoreManager::kRestoreEnd, &restoreFinished);
}

DesktopAlerts::~DesktopAlerts() {
  for (auto token : tokens_) NotificationCenter::defaultCenter().removeObserver(token);
  queue_.waitUntilIdle();
}

void DesktopAlerts::waitUntilIdle() { queue_.waitUntilIdle(); }

void DesktopAlerts::alert(Message message) {
  // Read at each alert: the user may switch alerts off at any time.
  if (message.summary.empty() || !sender_ || !LocalSettings::sharedManager().showAlerts()) return;
  message.icon = iconName();
  Sender sender = sender_;
  queue_.async([sender, message] {
    if (!sender(message)) {
      LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther,
                                         "The desktop notification \"" + message.summary + "\" was not shown",
                                         kLogDetail);
    }
  });
}

Message DesktopAlerts::filesFailedForGood(const Value& info) {
  Message message;
  std::vector<std::string> paths;
  if (info.is_object() && info.contains("paths") && info["paths"].is_array()) {
    for (const auto& path : info["paths"]) {
      if (path.is_string()) paths.push_back(path.get<std::string>());
    }
  }
  if (paths.empty()) return message;
  message.urgency = Urgency::kCritical;
  message.summary = paths.size() == 1 ? "A file could not be backed up"
                                      : stringWithFormat("%zu files could not be backed up", paths.size());
  for (size_t i = 0; i < paths.size() && i < kPathsShown; ++i) message.body += paths[i] + "\n";
  if (paths.size() > kPathsShown) message.body += stringWithFormat("and %zu more\n", paths.size() - kPathsShown);
  message.body += "They failed five times; \"palvero failed --retry\" tries them again.";
  return message;
}

Message DesktopAlerts::storageFull(const Value& info) {
  Message message;
  message.urgency = Urgency::kCritical;
  message.summary = "Backup storage is full";
  std::string used = textOf(info, "text");
  message.body = (used.empty() ? std::string() : used + ". ") + "Backups stop until space is freed or added.";
  return message;
}

Message DesktopAlerts::scheduledBackupNotStarted(const Value& info) {
  Message message;
  message.summary = "The scheduled backup did not start";
  std::string reason = textOf(info, "reason");
  message.body = reason.empty() ? "The status check holds backups back." : reason + ".";
  return message;
}

Message DesktopAlerts::restoreFinished(const Value& info) {
  Message message;
  if (info.is_object() && info.value("interrupted", false)) return message;
  int64_t restored = numberOf(info, "restored");
  int64_t failed = numberOf(info, "failed");
  message.summary = failed > 0 ? "Restore finished with failures" : "Restore finished";
  message.body = stringWithFormat("%lld files restored", static_cast<long long>(restored));
  if (failed > 0) {
    message.urgency = Urgency::kCritical;
    message.body += stringWithFormat(", %lld failed", static_cast<long long>(failed));
  }
  return message;
}

std::string DesktopAlerts::iconName() {
  std::string self = Process::executablePath();
  if (!self.empty()) {
    std::filesystem::path logo = std::filesystem::path(self).parent_path().parent_path() / "share/palvero/palvero.svg";
    std::error_code error;
    if (std::filesystem::is_regular_file(logo, error)) return logo.string();
  }
  return "palvero";
}

}  // namespace palvero
