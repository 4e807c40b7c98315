// "send_logs" (multipart: guid, osVersion, message, part "file[]"): stores
// the uploaded log under DIR/logs/<guid>/ and records a report with the
// operating system, the message (sent URL-encoded, followed by a blank
// line) and where the file went; "ok".
#include <filesystem>

#include "FormCodec.h"
#include "HandlerRegistry.h"
#include "Random.h"
#include "base/Date.h"

namespace fs = std::filesystem;

namespace palvero::service {
namespace {

// The file name as sent, reduced to a harmless last component.
std::string safeName(const std::string& filename) {
  std::string name =
      filename.substr(filename.find_last_of("/\\") == std::string::npos ? 0 : filename.find_last_of("/\\") + 1);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "log";
  return name.substr(0, 128);
}

std::string message(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return urlDecode(text);
}

void handleSendLogs(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const UploadedPart* part = nullptr;
  for (const auto& p : req.parts) {
    if (p.name == "file[]" || p.name == "file") part = &p;
  }
  if (!part) {
    reply.text(400, "log file required");
    return;
  }
  // The owner is a device id or client id, but it comes from the session,
  // never from the form, so it names a folder safely.
  fs::path folder = fs::path(ctx.options.dataDir) / "logs" / req.principal->id;
  fs::create_directories(folder);
  std::string name = Date::now().format("yyyyMMdd-HHmmss") + "-" + randomHex(4) + "-" + safeName(part->filename);
  if (ctx.options.durable) part->spool->sync();
  if (!part->spool->linkTo((folder / name).string())) {
    reply.text(500, "log name taken");
    return;
  }
  ctx.metadata.addReport(req.principal->id, "send_logs",
                         {{"osVersion", req.field("osVersion")},
                          {"message", message(req.field("message"))},
                          {"filename", part->filename},
                          {"size", part->size()},
                          {"stored", (fs::path("logs") / req.principal->id / name).string()}});
  reply.text(200, "ok");
}

const HandlerRegistration kSendLogs("send_logs", Access::kSession, handleSendLogs);

}  // namespace
}  // namespace palvero::service
