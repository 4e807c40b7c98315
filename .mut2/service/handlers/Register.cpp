// "register" (user login) and "register_device".
//
// register: username + password → the account's settings as JSON, with the
// device list and the service's "RequestPause" (and the administrator's "login" settings merged over
// it); "passwordempty" for an empty password,
// "wrongpas" for an unknown user or a wrong password, "userblocked" for a blocked account.
//
// register_device: clientId (the account's client id, or one of its devices)
// + password (the typed password or the account key) + device (JSON record)
// → {"DeviceID", "Pass"}. A record whose "DeviceID" names a device of the
// account re-registers that device; otherwise a new device is made, up to the
// account's device limit (403 beyond it).
#include "HandlerRegistry.h"
#include "base/JsonText.h"

namespace palvero::service {
namespace {

Value deviceList(ServiceContext& ctx, int64_t accountId) {
  Value list = Value::array();
  for (const auto& d : ctx.metadata.devicesOf(accountId)) list.push_back(d.record);
  return list;
}

void handleRegister(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  const std::string& password = req.field("password");
  if (password.empty()) {
    reply.text(200, "passwordempty");
    return;
  }
  auto account = ctx.metadata.accountByUsername(req.field("username"));
  if (!account || !MetadataStore::passwordMatches(*account, password)) {
    reply.text(200, "wrongpas");
    return;
  }
  if (account->blocked) {
    reply.text(200, "userblocked");
    return;
  }
  Value settings = {{"ClientId", account->clientId},
                    {"Password", account->accountKey},
                    {"UserCipher", account->userCipher},
                    {"AccountCipher", account->accountCipher},
                    {"Username", account->username},
                    {"Email", account->email},
                    {"LicenseSpace", "100"},
                    {"DeviceSupport", "true"},
                    {"MaxDeviceCount", account->maxDevices},
                    {"AccessRights", 0},
                    {"Devices", deviceList(ctx, account->id)},
                    {"RequestPause", ctx.options.requestPause}};
  // What an administrator set for the account's login reply ("login"
  // settings: a JSON merge patch, so null removes a key).
  if (auto admin = ctx.metadata.adminSettings(account->id, "login"); admin && admin->is_object()) {
    settings.merge_patch(*admin);
  }
  reply.json(dumpJson(settings));
}

std::optional<Account> accountForClient(ServiceContext& ctx, const std::string& clientId, const std::string& password,
                                        bool* passwordOk) {
  std::optional<Account> account = ctx.metadata.accountByClientId(clientId);
  std::optional<Device> device;
  if (!account && (device = ctx.metadata.device(clientId))) account = ctx.metadata.accountById(device->accountId);
  *passwordOk = account && !password.empty() &&
                (password == account->accountKey || (device && password == device->pass) ||
                 MetadataStore::passwordMatches(*account, password));
  return account;
}

void handleRegisterDevice(ServiceContext& ctx, const ServiceRequest& req, ServiceReply& reply) {
  bool passwordOk = false;
  auto account = accountForClient(ctx, req.field("clientId"), req.field("password"), &passwordOk);
  if (!account || !passwordOk) {
    reply.text(403, "wrongpas");
    return;
  }
  if (account->blocked) {
    reply.text(403, "userblocked");
    return;
  }
  Value record = parseJson(req.field("device"));
  if (!record.is_object()) {
    reply.text(400, "bad device record");
    return;
  }
  std::string requested = record.value("DeviceID", std::string());
  if (!requested.empty()) {
    auto existing = ctx.metadata.device(requested);
    if (existing && existing->accountId == account->id) {
      Value merged = existing->record;
      merged.update(record);
      merged["DeviceID"] = existing->deviceId;
      ctx.metadata.updateDeviceRecord(existing->deviceId, merged);
      reply.json(dumpJson({{"DeviceID", existing->deviceId}, {"Pass", existing->pass}}));
      return;
    }
  }
  if (static_cast<int64_t>(ctx.metadata.devicesOf(account->id).size()) >= account->maxDevices) {
    reply.text(403, "device limit reached");
    return;
  }
  Device device = ctx.metadata.addDevice(account->id, std::move(record));
  reply.json(dumpJson({{"DeviceID", device.deviceId}, {"Pass", device.pass}}));
}

const HandlerRegistration kRegister("register", Access::kPublic, handleRegister);
const HandlerRegistration kRegisterDevice("register_device", Access::kPublic, handleRegisterDevice);

}  // namespace
}  // namespace palvero::service
