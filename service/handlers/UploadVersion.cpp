// "upload_ver": fields file_name, size, modified (+ finalpart, offset for a
// file sent in parts), part "file" = the version file. A single send records
// the revision at once; parts are collected per session until the part with
// finalpart "True" arrives, which records the assembled file and answers
// "ok". An earlier part is answered "part" (200 but not "ok", so the client
// goes on with the next part); a part that leaves a gap is refused with 409.
#include <charconv>

#include "HandlerRegistry.h"
#include "Random.h"

namespace palvero::service {
namespace {

std::optional<int64_t> integerField(const ServiceRequest& req, const std::string& name) {
  const std::string& text = req.field(name);
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

void recordVersion(ServiceContext& ctx, const ServiceRequest& req, const std::string& data, ServiceReply& reply) {
  std::string object = randomHex(16);
  ctx.versions.put({{object, data}});
  try {
    ctx.metadata.addVersion(req.principal->id, req.field("file_name"), integerField(req, "size").value_or(0),
                            req.field("modified"), object, static_cast<int64_t>(data.size()));
  } catch (...) {
    ctx.versions.remove(object);
    throw;
  }
  reply.text(200, "ok");
}

void handleUploadVersion(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const UploadedPart* part = nullptr;
  for (const auto& p : req.parts) {
    if (p.name == "file") part = &p;
  }
  if (req.field("file_name").empty() || !part) {
    reply.text(400, "file_name and file required");
    return;
  }
  if (!req.has("finalpart")) {
    recordVersion(ctx, req, part->content(), reply);
    return;
  }
  PartialUploads::Key key{req.principal->id, req.field("file_name"), req.sessionToken};
  std::optional<int64_t> offset;
  if (req.has("offset")) {
    offset = integerField(req, "offset");
    if (!offset) {
      reply.text(400, "bad offset");
      return;
    }
  }
  int64_t received = 0;
  if (ctx.partials.addPart(key, offset, part->content(), &received) == PartialUploads::Result::kGap) {
    reply.text(409, "missing part: have " + std::to_string(received) + " bytes");
    return;
  }
  if (req.field("finalpart") != "True") {
    reply.text(200, "part");
    return;
  }
  auto whole = ctx.partials.take(key);
  recordVersion(ctx, req, *whole, reply);
}

const HandlerRegistration kUploadVersion("upload_ver", Access::kSession, handleUploadVersion);

}  // namespace
}  // namespace palvero::service
