// "auth": opens a session for a device (guid = device id, password = its
// pass) or for an account before device registration (guid = the account's
// client id, password = the key of the login reply). Answers "ok" with the
// session cookie, "wrongpas", or "userblocked" for a blocked account with the
// right password.
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

void handleAuth(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& guid = req.field("guid");
  const std::string& password = req.field("password");
  std::optional<Account> account;
  std::optional<Principal> principal;
  if (auto device = ctx.metadata.device(guid)) {
    account = ctx.metadata.accountById(device->accountId);
    if (account && !password.empty() && device->pass == password) principal = Principal{guid, account->id, true};
  } else if ((account = ctx.metadata.accountByClientId(guid))) {
    if (!password.empty() && password == account->accountKey) principal = Principal{guid, account->id, false};
  }
  if (!principal) {
    reply.text(200, "wrongpas");
    return;
  }
  if (account->blocked) {
    reply.text(200, "userblocked");
    return;
  }
  std::string token = ctx.sessions.open(*principal);
  reply.headers.emplace_back("Set-Cookie", std::string(SessionTable::kCookieName) + "=" + token + "; Path=/; HttpOnly");
  reply.text(200, "ok");
}

const HandlerRegistration kAuth("auth", Access::kPublic, handleAuth);

}  // namespace
}  // namespace palvero::service
