// "check_block": blocks = JSON array of {"size", "checksum"}; answers the
// array of those the store does not hold, in request order, each once.
#include <set>

#include "BlockNames.h"

namespace palvero::service {
namespace {

void handleCheckBlock(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  Value blocks = Value::parse(req.field("blocks"), nullptr, false);
  if (!blocks.is_array()) {
    reply.text(400, "bad block list");
    return;
  }
  Value missing = Value::array();
  std::set<std::string> seen;
  for (const auto& block : blocks) {
    if (!block.is_object() || !block.contains("checksum") || !block["checksum"].is_string()) {
      reply.text(400, "bad block list");
      return;
    }
    std::string checksum = block["checksum"].get<std::string>();
    if (!seen.insert(checksum).second || blockHeld(ctx, checksum)) continue;
    missing.push_back({{"size", block.value("size", Value(0))}, {"checksum", checksum}});
  }
  reply.json(dumpJson(missing));
}

const HandlerRegistration kCheckBlock("check_block", Access::kSession, handleCheckBlock);

}  // namespace
}  // namespace palvero::service
