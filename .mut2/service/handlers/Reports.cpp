// "status" (type, desc) and "send_serial_numbers" (SerialNumber,
// ComputerUUID): recorded and answered "ok"; the client ignores the reply.
// The hardware identifiers are also copied into the caller's device record,
// which the login reply lists.
#include "HandlerRegistry.h"

namespace palvero::service {
namespace {

void handleStatus(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  ctx.metadata.addReport(req.principal->id, "status", {{"type", req.field("type")}, {"desc", req.field("desc")}});
  reply.text(200, "ok");
}

void handleSerialNumbers(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  Value fields = {{"SerialNumber", req.field("SerialNumber")}, {"ComputerUUID", req.field("ComputerUUID")}};
  ctx.metadata.addReport(req.principal->id, "send_serial_numbers", fields);
  if (req.principal->isDevice) {
    if (auto device = ctx.metadata.device(req.principal->id)) {
      Value record = device->record;
      record.update(fields);
      ctx.metadata.updateDeviceRecord(device->deviceId, record);
    }
  }
  reply.text(200, "ok");
}

const HandlerRegistration kStatus("status", Access::kSession, handleStatus);
const HandlerRegistration kSerialNumbers("send_serial_numbers", Access::kSession, handleSerialNumbers);

}  // namespace
}  // namespace palvero::service
