// The application core's requests over a CommunicationServer.
//
// Thread contract: as ServerLink; the instance's cookies are shared by every
// caller.
#pragma once

#include <memory>

#include "app/ServerLink.h"

namespace palvero {

class CommunicationServer;

class CommunicationServerLink : public ServerLink {
 public:
  // Over `server`, or a new one for the configured address when null.
  explicit CommunicationServerLink(std::shared_ptr<CommunicationServer> server = nullptr);

  const std::shared_ptr<CommunicationServer>& server() const { return server_; }

  const void* notificationSender() const override;
  bool syncAuthorise() override;
  int32_t syncPing() override;
  void sendStatus(const std::string& type, const std::string& description) override;
  bool syncCheckVersion(int64_t clientType, std::string& version) override;
  bool saveSettings(const std::string& type) override;
  void loadSettings(const std::string& type) override;
  void loadExclusions() override;
  bool syncDeleteVerFile(const std::string& encodedPathList) override;
  std::optional<std::map<std::string, Value>> getStatisticByCategories() override;
  void getSupportInfo() override;
  void sendSerialNumbers() override;
  void checkVersion(int64_t clientType) override;
  void downloadUpdate(int64_t clientType) override;
  void sendLogsWithMessage(const std::string& message, bool silent) override;

 private:
  const std::shared_ptr<CommunicationServer> server_;
};

}  // namespace palvero
