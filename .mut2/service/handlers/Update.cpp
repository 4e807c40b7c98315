// "check_version" (type) answers the client version the service offers
// (--client-version); "download_update" (type) sends the updater archive
// (--updater), 404 when none is configured.
#include <fstream>
#include <sstream>

#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

void handleCheckVersion(ServiceContext& ctx, const ServiceRequest&, ServiceReply& reply) {
  reply.text(200, ctx.options.clientVersion);
}

void handleDownloadUpdate(ServiceContext& ctx, const ServiceRequest&, ServiceReply& reply) {
  if (ctx.options.updaterPath.empty()) {
    reply.text(404, "no update");
    return;
  }
  std::ifstream in(ctx.options.updaterPath, std::ios::binary);
  if (!in) {
    reply.text(404, "no update");
    return;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  reply.bytes(bytes.str());
}

const HandlerRegistration kCheckVersion("check_version", Access::kSession, handleCheckVersion);
const HandlerRegistration kDownloadUpdate("download_update", Access::kSession, handleDownloadUpdate);

}  // namespace
}  // namespace palvero::service
