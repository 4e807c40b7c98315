// "upload_ver": fields file_name, size, modified (+ finalpart, offset for a
// file sent in parts), part "file" = the version file. A single send records
// the revision at once; parts are collected per session until the part with
// finalpart "True" arrives, which records the assembled file and answers
// "ok". An earlier part is answered "part" (200 but not "ok", so the client
// goes on with the next part); a part that leaves a gap is refused with 409.
// A size or offset that is no number in range is 400; a version file past
// 64 MiB, or a session assembling too many at once, is 413.
#include "FormCodec.h"
#include "HandlerRegistry.h"
#include "Limits.h"
#include "Random.h"

namespace palvero::service {
namespace {

void recordVersion(ServiceContext& ctx, const ServiceRequest& req, int64_t size, const std::string& data,
                   ServiceReply& reply) {
  std::string object = randomHex(16);
  ctx.versions.put({{object, data}});
  try {
    ctx.metadata.addVersion(req.principal->id, req.field("file_name"), size, req.field("modified"), object,
                            static_cast<int64_t>(data.size()));
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
  std::optional<int64_t> size = boundedInteger(req.field("size"), 0, limits::kMaxReportedSize);
  if (!size) {
    reply.text(400, "bad size");
    return;
  }
  if (part->size() > limits::kVersionBytes) {
    reply.text(413, "version file too large");
    return;
  }
  if (!req.has("finalpart")) {
    recordVersion(ctx, req, *size, part->content(), reply);
    return;
  }
  PartialUploads::Key key{req.principal->id, req.field("file_name"), req.sessionToken};
  std::optional<int64_t> offset;
  if (req.has("offset")) {
    offset = boundedInteger(req.field("offset"), 0, limits::kVersionBytes);
    if (!offset) {
      reply.text(400, "bad offset");
      return;
    }
  }
  int64_t received = 0;
  switch (ctx.partials.addPart(key, offset, part->content(), &received)) {
    case PartialUploads::Result::kAccepted:
      break;
    case PartialUploads::Result::kGap:
      reply.text(409, "missing part: have " + std::to_string(received) + " bytes");
      return;
    case PartialUploads::Result::kTooLarge:
      reply.text(413, "version file too large");
      return;
    case PartialUploads::Result::kTooMany:
      reply.text(413, "too many version files in parts at once");
      return;
  }
  if (req.field("finalpart") != "True") {
    reply.text(200, "part");
    return;
  }
  auto whole = ctx.partials.take(key);
  recordVersion(ctx, req, *size, *whole, reply);
}

const HandlerRegistration kUploadVersion("upload_ver", Access::kSession, handleUploadVersion);

}  // namespace
}  // namespace palvero::service
