#include "app/CommunicationServerLink.h"

#include "protocol/CommunicationServer.h"
#include "selection/USB.h"

namespace palvero {

CommunicationServerLink::CommunicationServerLink(std::shared_ptr<CommunicationServer> server)
    : server_(server ? std::move(server) : CommunicationServer::create()) {}

const void* CommunicationServerLink::notificationSender() const { return server_.get(); }

bool CommunicationServerLink::syncAuthorise() { return server_->syncAuthorise(); }

int32_t CommunicationServerLink::syncPing() { return server_->syncPing(); }

void CommunicationServerLink::sendStatus(const std::string& type, const std::string& description) {
  server_->sendStatus(type, description);
}

bool CommunicationServerLink::syncCheckVersion(int64_t clientType, std::string& version) {
  return server_->syncCheckVersion(clientType, version);
}

bool CommunicationServerLink::saveSettings(const std::string& type) { return server_->saveSettings(type); }

void CommunicationServerLink::loadSettings(const std::string& type) { server_->loadSettings(type); }

void CommunicationServerLink::loadExclusions() { server_->loadExclusions(); }

bool CommunicationServerLink::syncDeleteVerFile(const std::string& encodedPathList) {
  return server_->syncDeleteVerFile(encodedPathList, 0, std::nullopt, false);
}

std::optional<std::map<std::string, Value>> CommunicationServerLink::getStatisticByCategories() {
  return server_->getStatisticByCategories();
}

void CommunicationServerLink::getSupportInfo() { server_->getSupportInfo(); }

void CommunicationServerLink::sendSerialNumbers() {
  server_->sendSerialNumbers(USB::GetSerialNumber().value_or(""), USB::GetComputerUUID().value_or(""));
}

void CommunicationServerLink::checkVersion(int64_t clientType) { server_->checkVersion(clientType); }

void CommunicationServerLink::downloadUpdate(int64_t clientType) { server_->downloadUpdate(clientType); }

void CommunicationServerLink::sendLogsWithMessage(const std::string& message, bool silent) {
  server_->sendLogsWithMessage(message, silent);
}

}  // namespace palvero
