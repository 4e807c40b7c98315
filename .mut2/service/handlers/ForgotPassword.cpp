// "forgot_pas" (user): "ok" once a new password would be mailed to a known
// user (recorded as a report); "userdeleted" for a user the service does not
// know; 400 without a user.
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

void handleForgotPassword(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& user = req.field("user");
  if (user.empty()) {
    reply.text(400, "user required");
    return;
  }
  auto account = ctx.metadata.accountByUsername(user);
  if (!account) {
    reply.text(200, "userdeleted");
    return;
  }
  ctx.metadata.addReport(account->clientId, "forgot_pas", {{"user", user}, {"email", account->email}});
  reply.text(200, "ok");
}

const HandlerRegistration kForgotPassword("forgot_pas", Access::kPublic, handleForgotPassword);

}  // namespace
}  // namespace palvero::service
