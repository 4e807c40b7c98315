// "check_block": blocks = JSON array of {"size", "checksum"}; answers the
// array of those the caller's account does not hold, in request order, each
// once. A list that is not such an array (a size that is no non-negative
// integer, more than 10,000 entries) is 400.
#include <set>

#include "BlockNames.h"
#include "Limits.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

bool isSize(const Value& size) {
  return (size.is_number_unsigned() || (size.is_number_integer() && size.get<int64_t>() >= 0)) &&
         size.get<uint64_t>() <= static_cast<uint64_t>(limits::kMaxReportedSize);
}

void handleCheckBlock(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  Value blocks = parseJson(req.field("blocks"));
  if (!blocks.is_array() || blocks.size() > limits::kCheckBlockEntries) {
    reply.text(400, "bad block list");
    return;
  }
  const BlobStore store = ctx.blocks.of(req.principal->accountId);
  Value missing = Value::array();
  std::set<std::string> seen;
  for (const auto& block : blocks) {
    if (!block.is_object() || !block.contains("checksum") || !block["checksum"].is_string() ||
        (block.contains("size") && !isSize(block["size"]))) {
      reply.text(400, "bad block list");
      return;
    }
    std::string checksum = block["checksum"].get<std::string>();
    if (!seen.insert(checksum).second || blockHeld(store, checksum)) continue;
    missing.push_back({{"size", block.value("size", Value(0))}, {"checksum", checksum}});
  }
  reply.json(dumpJson(missing));
}

const HandlerRegistration kCheckBlock("check_block", Access::kSession, handleCheckBlock);

}  // namespace
}  // namespace palvero::service
