// The production RemoteDeleter: a fresh server client per request, as the
// filter's short-lived clients are meant to be (each keeps its own session).
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "selection/RemoteDeleter.h"

namespace palvero {
namespace {

class ServerRemoteDeleter : public RemoteDeleter {
 public:
  bool deletePathImmediately(const std::string& path) override {
    auto encoded = Functions::UrlEncode(path);
    if (!encoded) return false;
    return CommunicationServer::create()->syncDeleteVerFile(*encoded, 0, std::nullopt, true);
  }
};

}  // namespace

std::shared_ptr<RemoteDeleter> makeServerRemoteDeleter() { return std::make_shared<ServerRemoteDeleter>(); }

}  // namespace palvero
