// "get_block": checksum (+ size) → the stored bytes unchanged; the header
// "Zipped: True" when the block is held under its packed name. 404 when the
// block is not held.
#include "BlockNames.h"

namespace palvero::service {
namespace {

void handleGetBlock(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& requested = req.field("checksum");
  std::string checksum = checksumOf(requested);
  std::string name;
  if (ctx.blocks.contains(requested)) {
    name = requested;
  } else if (ctx.blocks.contains(checksum + kPackedSuffix)) {
    name = checksum + kPackedSuffix;
  } else if (ctx.blocks.contains(checksum)) {
    name = checksum;
  }
  std::optional<std::string> bytes = name.empty() ? std::nullopt : ctx.blocks.read(name);
  if (!bytes) {
    reply.text(404, "no such block");
    return;
  }
  if (endsWithPacked(name)) reply.headers.emplace_back("Zipped", "True");
  reply.bytes(std::move(*bytes));
}

const HandlerRegistration kGetBlock("get_block", Access::kSession, handleGetBlock);

}  // namespace
}  // namespace palvero::service
