// "upload_block" (one block: fields checksum and size, part "file") and
// "upload_blocks_multi" (a batch: field blocks = JSON array of {"name",
// "size", "checksum" = MD5 of the body}, one part "file[]" per record whose
// file name is the record's name). A batch is checked whole before anything
// is stored: every record needs its part and a body whose MD5 matches, or
// the batch is refused with 400 and the client sends it again. Blocks go
// into the caller's account only.
#include <map>

#include "BlockNames.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

void handleUploadBlock(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  std::string name = req.field("checksum");
  const UploadedPart* part = nullptr;
  for (const auto& p : req.parts) {
    if (p.name == "file") part = &p;
  }
  if (name.empty() && part) name = part->filename;
  if (!part || !BlobStore::isSafeName(name)) {
    reply.text(400, "bad block upload");
    return;
  }
  ctx.blocks.of(req.principal->accountId).adopt({{name, part->spool.get()}});
  reply.text(200, "ok");
}

void handleUploadBlocksMulti(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  Value records = parseJson(req.field("blocks"));
  if (!records.is_array()) {
    reply.text(400, "bad block list");
    return;
  }
  std::map<std::string, const UploadedPart*> parts;
  for (const auto& p : req.parts) {
    if (p.name == "file[]") parts[p.filename] = &p;
  }
  std::vector<std::pair<std::string, SpoolFile*>> items;
  for (const auto& record : records) {
    std::string name = record.is_object() ? record.value("name", std::string()) : std::string();
    if (!BlobStore::isSafeName(name)) {
      reply.text(400, "bad block name");
      return;
    }
    auto it = parts.find(name);
    if (it == parts.end()) {
      reply.text(400, "missing part for " + name);
      return;
    }
    std::string expected = record.value("checksum", std::string());
    if (!expected.empty() && it->second->spool->md5() != expected) {
      reply.text(400, "checksum mismatch for " + name);
      return;
    }
    items.emplace_back(name, it->second->spool.get());
  }
  if (items.size() != parts.size()) {
    reply.text(400, "part without record");
    return;
  }
  ctx.blocks.of(req.principal->accountId).adopt(items);
  reply.text(200, "ok");
}

const HandlerRegistration kUploadBlock("upload_block", Access::kSession, handleUploadBlock);
const HandlerRegistration kUploadBlocksMulti("upload_blocks_multi", Access::kSession, handleUploadBlocksMulti);

}  // namespace
}  // namespace palvero::service
