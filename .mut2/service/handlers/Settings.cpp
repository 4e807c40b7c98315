// "save_settings" (type, data) and "load_settings" (type).
//
// save_settings stores the body (SettingsDocument: a JSON object, with the
// client's "(null)" placeholders read as unset) under the caller and type;
// 400 for a body that is no JSON object.
//
// load_settings answers what the caller saved under the type ("clientfull":
// the account's user name and e-mail with what it saved as "client"), with
// what an administrator set for the account and type merged over it (JSON
// merge patch: the administrator's values win, arrays are replaced), and
// the service's "RequestPause" (--request-pause).
#include "HandlerRegistry.h"
#include "SettingsDocument.h"

namespace palvero::service {
namespace {

void handleSaveSettings(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& type = req.field("type");
  if (type.empty()) {
    reply.text(400, "type required");
    return;
  }
  auto document = SettingsDocument::parse(req.field("data"));
  if (!document) {
    reply.text(400, "settings body is not a JSON object");
    return;
  }
  ctx.metadata.putSettings(req.principal->id, type, *document);
  reply.text(200, "ok");
}

void handleLoadSettings(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& type = req.field("type");
  Value values = Value::object();
  if (type == "clientfull") {
    if (auto account = ctx.metadata.accountById(req.principal->accountId)) {
      values = {{"Username", account->username}, {"Email", account->email}};
    }
    if (auto client = ctx.metadata.settings(req.principal->id, "client"); client && client->is_object()) {
      values.update(*client);
    }
  }
  if (auto saved = ctx.metadata.settings(req.principal->id, type); saved && saved->is_object()) values.update(*saved);
  // The service's pacing, whatever a client saved under the key.
  values["RequestPause"] = ctx.options.requestPause;
  if (auto admin = ctx.metadata.adminSettings(req.principal->accountId, type); admin && admin->is_object()) {
    values.merge_patch(*admin);
  }
  reply.json(dumpJson(values));
}

const HandlerRegistration kSaveSettings("save_settings", Access::kSession, handleSaveSettings);
const HandlerRegistration kLoadSettings("load_settings", Access::kSession, handleLoadSettings);

}  // namespace
}  // namespace palvero::service
