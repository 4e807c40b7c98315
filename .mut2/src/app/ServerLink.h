// The requests the application core makes itself (the engines have their
// own request objects). One interface so that the scheduler, the status
// check and the run can be driven in tests without a network;
// CommunicationServerLink is the real one.
//
// Thread contract: every member may be called from any thread; synchronous
// operations block the caller. Asynchronous ones post their outcome as the
// request layer's notifications, on the main run loop.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/Value.h"

namespace palvero {

class ServerLink {
 public:
  virtual ~ServerLink() = default;

  // The object the request layer names as the sender of its notifications.
  virtual const void* notificationSender() const = 0;

  virtual bool syncAuthorise() = 0;
  // 2 good, 1 slow, 0 offline.
  virtual int32_t syncPing() = 0;
  virtual void sendStatus(const std::string& type, const std::string& description) = 0;
  // Whether a newer client exists; `version` receives the service's text.
  virtual bool syncCheckVersion(int64_t clientType, std::string& version) = 0;
  virtual bool saveSettings(const std::string& type) = 0;
  virtual void loadSettings(const std::string& type) = 0;
  virtual void loadExclusions() = 0;
  // Deletes the versions of the URL-encoded JSON list of paths.
  virtual bool syncDeleteVerFile(const std::string& encodedPathList) = 0;
  virtual std::optional<std::map<std::string, Value>> getStatisticByCategories() = 0;
  virtual void getSupportInfo() = 0;
  virtual void sendSerialNumbers() = 0;
  virtual void checkVersion(int64_t clientType) = 0;
  virtual void downloadUpdate(int64_t clientType) = 0;
  virtual void sendLogsWithMessage(const std::string& message, bool silent) = 0;
};

}  // namespace palvero
