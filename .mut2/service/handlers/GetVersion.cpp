// "get_ver": file (path), version (number, -1 = latest), undelete ("1" clears
// the path's deletion mark), sourceDeviceId (another device of the caller's
// account) → the version file's bytes exactly as uploaded; 404 when there is
// no such revision or the device is not the account's.
#include <limits>

#include "FormCodec.h"
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

bool sameAccount(ServiceContext& ctx, const Principal& caller, const std::string& owner) {
  if (auto device = ctx.metadata.device(owner)) return device->accountId == caller.accountId;
  auto account = ctx.metadata.accountByClientId(owner);
  return account && account->id == caller.accountId;
}

void handleGetVersion(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const Principal& caller = *req.principal;
  std::string owner = caller.id;
  if (const std::string& source = req.field("sourceDeviceId"); !source.empty() && source != caller.id) {
    if (!sameAccount(ctx, caller, source)) {
      reply.text(404, "no such device");
      return;
    }
    owner = source;
  }
  const std::string& path = req.field("file");
  // Revision numbers are 32-bit on the client.
  std::optional<int64_t> version = boundedInteger(req.field("version"), std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max());
  if (!version) {
    reply.text(400, "bad version");
    return;
  }
  const int64_t number = *version;
  auto row = number < 0 ? ctx.metadata.latestVersion(owner, path) : ctx.metadata.version(owner, path, number);
  if (!row) {
    reply.text(404, "no such version");
    return;
  }
  auto bytes = ctx.versions.read(row->object);
  if (!bytes) {
    reply.text(500, "version data missing");
    return;
  }
  if (req.field("undelete") == "1" && owner == caller.id && row->toDelete) ctx.metadata.clearDeleteMark(owner, path);
  reply.bytes(std::move(*bytes));
}

const HandlerRegistration kGetVersion("get_ver", Access::kSession, handleGetVersion);

}  // namespace
}  // namespace palvero::service
