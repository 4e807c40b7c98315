#include "app/CommunicationServerLink.h"

#include "protocol/CommunicationServer.h"

namespace palvero {

CommunicationServerLink::CommunicationServerLink(std::shared_ptr<CommunicationServer> server)
    : server_(server ? std::move(server) : CommunicationServer::create()) {}

const void* CommunicationServerLink::notificationSender() const { return server_.get(); }

bool CommunicationServerLink::syncAuthorise() { return server_->syncAuthorise(); }

int32_t CommunicationServerLink::syncPing() { return server_->syncPing(); }

void CommunicationServerLink::sendStatus(const std::string& type, const std::string& description) {
  server_->sendStatus(type, description);
}

bool CommunicationServerLink::syncDeleteVerFile(const std::string& encodedPathList) {
  return server_->syncDeleteVerFile(encodedPathList, 0, std::nullopt, false);
}

bool CommunicationServerLink::syncCheckVersion(int64_t, std::string&) { return false; }
bool CommunicationServerLink::saveSettings(const std::string&) { return false; }
void CommunicationServerLink::loadSettings(const std::string&) {}
void CommunicationServerLink::loadExclusions() {}
std::optional<std::map<std::string, Value>> CommunicationServerLink::getStatisticByCategories() { return {}; }
void CommunicationServerLink::getSupportInfo() {}
void CommunicationServerLink::sendSerialNumbers() {}
void CommunicationServerLink::checkVersion(int64_t) {}
void CommunicationServerLink::downloadUpdate(int64_t) {}
void CommunicationServerLink::sendLogsWithMessage(const std::string&, bool) {}

}  // namespace palvero
