// "ping": a liveness probe that needs no session.
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

void handlePing(ServiceContext&, const ServiceRequest&, ServiceReply& reply) { reply.text(200, "pong"); }

const HandlerRegistration kPing("ping", Access::kPublic, handlePing);

}  // namespace
}  // namespace palvero::service
