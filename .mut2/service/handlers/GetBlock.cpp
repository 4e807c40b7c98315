// "get_block": checksum (+ size) → the stored bytes unchanged; the header
// "Zipped: True" when the block is held under its packed name. Only the
// caller's account is searched (and, for an account older than per-account
// storage, the shared folder of that time); 404 when the block is not held.
#include "BlockNames.h"

namespace palvero::service {
namespace {

void handleGetBlock(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& requested = req.field("checksum");
  const BlobStore own = ctx.blocks.of(req.principal->accountId);
  std::string name = heldName(own, requested);
  std::optional<std::string> bytes = name.empty() ? std::nullopt : own.read(name);
  if (name.empty()) {
    if (auto legacy = ctx.blocks.legacyFor(req.principal->accountId)) {
      name = heldName(*legacy, requested);
      if (!name.empty()) bytes = legacy->read(name);
    }
  }
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
